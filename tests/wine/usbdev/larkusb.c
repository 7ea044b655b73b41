// A USB printing class device for the Wine tests: a root-enumerated PnP
// function driver that registers an interface of GUID_DEVINTERFACE_USBPRINT
// and answers the device ID requests of the class driver. What it answers
// lives in the device's hardware key and is read on every request, so a
// test changes the printer between polls:
//   "Script"   REG_BINARY  device IDs, each a 2-byte little-endian length
//                          and that many raw bytes; request n of an open
//                          handle (from 1) answers ID n, the last repeating
//   "FailFrom" REG_DWORD   from request n of a handle on (0: never) the
//                          device is gone: STATUS_DEVICE_NOT_CONNECTED
//   "Absent"   REG_DWORD   non-zero: the interface is registered but never
//                          enabled, as an unplugged printer's is
// With no script the device answers kDefaultId.
#include <initguid.h>
#include <ntddk.h>

DEFINE_GUID(LarkUsbPrintClass, 0x28d78fad, 0x5a12, 0x11d1, 0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8,
            0xc2);

// The parallel class's request, which usbprint answers too, and usbprint's own.
#define LARK_IOCTL_PAR_QUERY_DEVICE_ID \
    CTL_CODE(FILE_DEVICE_PARALLEL_PORT, 3, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define LARK_IOCTL_USBPRINT_GET_1284_ID \
    CTL_CODE(FILE_DEVICE_UNKNOWN, 13, METHOD_BUFFERED, FILE_ANY_ACCESS)

#define LARK_TAG 0x6b72614cu  // "Lark" in a pool dump
// The largest script read: a handful of IDs of up to 64 KB each.
#define LARK_MAX_SCRIPT (1024 * 1024)

static const char kDefaultId[] = "MFG:Lark;MDL:Photo Printer;CLS:PRINTER;";

typedef struct {
    PDEVICE_OBJECT pdo;
    PDEVICE_OBJECT lower;
    UNICODE_STRING link;
} Extension;

static DRIVER_UNLOAD Unload;
static DRIVER_ADD_DEVICE AddDevice;
static DRIVER_DISPATCH DispatchCreateClose, DispatchControl, DispatchPnp, DispatchPass;

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// A value of the device's hardware key, in a pool block the caller frees;
// NULL when the key or the value is missing.
static PKEY_VALUE_PARTIAL_INFORMATION ReadValue(PDEVICE_OBJECT pdo, PCWSTR name) {
    HANDLE key = NULL;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) {
        return NULL;
    }
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG size = 0;
    PKEY_VALUE_PARTIAL_INFORMATION info = NULL;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, NULL, 0, &size);
    if ((status == STATUS_BUFFER_TOO_SMALL || status == STATUS_BUFFER_OVERFLOW) && size > 0 &&
        size <= LARK_MAX_SCRIPT + sizeof(KEY_VALUE_PARTIAL_INFORMATION)) {
        info = ExAllocatePoolWithTag(PagedPool, size, LARK_TAG);
        if (info != NULL && !NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation,
                                                        info, size, &size))) {
            ExFreePoolWithTag(info, LARK_TAG);
            info = NULL;
        }
    }
    ZwClose(key);
    return info;
}

static ULONG ReadNumber(PDEVICE_OBJECT pdo, PCWSTR name) {
    PKEY_VALUE_PARTIAL_INFORMATION info = ReadValue(pdo, name);
    ULONG number = 0;
    if (info != NULL && info->Type == REG_DWORD && info->DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&number, info->Data, sizeof number);
    }
    if (info != NULL) ExFreePoolWithTag(info, LARK_TAG);
    return number;
}

// The ID that request `poll` answers, within the script block (or the
// default text); *script is the block to free.
static void PickId(PDEVICE_OBJECT pdo, ULONG poll, PKEY_VALUE_PARTIAL_INFORMATION* script,
                   const UCHAR** id, ULONG* length) {
    *id = (const UCHAR*)kDefaultId;
    *length = sizeof kDefaultId - 1;
    *script = ReadValue(pdo, L"Script");
    if (*script == NULL || (*script)->Type != REG_BINARY) return;
    const UCHAR* at = (*script)->Data;
    ULONG left = (*script)->DataLength;
    for (ULONG n = 1; left >= 2; ++n) {
        ULONG size = (ULONG)at[0] | ((ULONG)at[1] << 8);
        if (size > left - 2) break;
        *id = at + 2;
        *length = size;
        if (n == poll) break;
        at += 2 + size;
        left -= 2 + size;
    }
}

static NTSTATUS DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp) {
    (void)device;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    // The handle's request count.
    if (stack->MajorFunction == IRP_MJ_CREATE && stack->FileObject != NULL) {
        stack->FileObject->FsContext2 = NULL;
    }
    return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    Extension* ext = device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (code != LARK_IOCTL_PAR_QUERY_DEVICE_ID && code != LARK_IOCTL_USBPRINT_GET_1284_ID) {
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    ULONG_PTR poll = 1;
    if (stack->FileObject != NULL) {
        poll = (ULONG_PTR)stack->FileObject->FsContext2 + 1;
        stack->FileObject->FsContext2 = (PVOID)poll;
    }
    const ULONG failFrom = ReadNumber(ext->pdo, L"FailFrom");
    if (failFrom != 0 && poll >= failFrom) return Complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);

    PKEY_VALUE_PARTIAL_INFORMATION script = NULL;
    const UCHAR* id = NULL;
    ULONG length = 0;
    PickId(ext->pdo, (ULONG)poll, &script, &id, &length);
    // The parallel request answers the text and a terminator; usbprint's
    // puts the two length bytes (big-endian, counting themselves) in front.
    // A buffer that does not hold it all is refused, as both are documented.
    const BOOLEAN prefixed = code == LARK_IOCTL_USBPRINT_GET_1284_ID;
    const ULONG needed = length + 1 + (prefixed ? 2 : 0);
    const ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* out = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR written = 0;
    if (out == NULL || room < needed) {
        status = STATUS_BUFFER_TOO_SMALL;
    } else {
        UCHAR* text = out;
        if (prefixed) {
            const ULONG field = length + 2;
            out[0] = (UCHAR)(field >> 8);
            out[1] = (UCHAR)field;
            text = out + 2;
        }
        RtlCopyMemory(text, id, length);
        text[length] = 0;
        written = needed;
    }
    if (script != NULL) ExFreePoolWithTag(script, LARK_TAG);
    return Complete(irp, status, written);
}

static NTSTATUS DispatchPass(PDEVICE_OBJECT device, PIRP irp) {
    Extension* ext = device->DeviceExtension;
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lower, irp);
}

static NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp) {
    Extension* ext = device->DeviceExtension;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
            if (ext->link.Buffer != NULL && ReadNumber(ext->pdo, L"Absent") == 0) {
                IoSetDeviceInterfaceState(&ext->link, TRUE);
            }
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        case IRP_MN_SURPRISE_REMOVAL:
            if (ext->link.Buffer != NULL) IoSetDeviceInterfaceState(&ext->link, FALSE);
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE: {
            if (ext->link.Buffer != NULL) {
                IoSetDeviceInterfaceState(&ext->link, FALSE);
                RtlFreeUnicodeString(&ext->link);
            }
            IoSkipCurrentIrpStackLocation(irp);
            irp->IoStatus.Status = STATUS_SUCCESS;
            NTSTATUS status = IoCallDriver(ext->lower, irp);
            IoDetachDevice(ext->lower);
            IoDeleteDevice(device);
            return status;
        }
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        default:
            break;
    }
    return DispatchPass(device, irp);
}

static NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), NULL, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    Extension* ext = device->DeviceExtension;
    RtlZeroMemory(ext, sizeof *ext);
    ext->pdo = pdo;
    ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
    if (ext->lower == NULL) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    status = IoRegisterDeviceInterface(pdo, &LarkUsbPrintClass, NULL, &ext->link);
    if (!NT_SUCCESS(status)) ext->link.Buffer = NULL;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static void Unload(PDRIVER_OBJECT driver) { (void)driver; }

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING path) {
    (void)path;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPass;
    return STATUS_SUCCESS;
}
