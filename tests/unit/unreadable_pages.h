// Memory that ends in a page the process may not touch, for records that
// claim more than the memory behind them.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace larktest {

// Two pages: the first readable and writable (or read-only), the second
// PROT_NONE. Tail(n) gives the address n bytes before the forbidden page.
struct UnreadablePages {
    explicit UnreadablePages(bool readOnlyFirst = false) {
        page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        base = static_cast<uint8_t*>(
            mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + page, page, PROT_NONE);
        if (readOnlyFirst) mprotect(base, page, PROT_READ);
    }
    ~UnreadablePages() { munmap(base, 2 * page); }
    UnreadablePages(const UnreadablePages&) = delete;
    UnreadablePages& operator=(const UnreadablePages&) = delete;
    void MakeReadOnly() { mprotect(base, page, PROT_READ); }
    uint8_t* Tail(size_t bytes) { return base + page - bytes; }
    uint8_t* Forbidden() { return base + page; }
    uint8_t* base = nullptr;
    size_t page = 0;
};

}  // namespace larktest
