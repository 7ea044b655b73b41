// larksim's scripted user of the settings page when the dialog runs in the
// browser: the actions a person would take, checked here and queued for the
// dialog's showings, which play them in order.
#include "larksim.h"

namespace larksim {

bool CheckUserAction(const std::string& action, std::string* error) {
    if (action == "close") return true;
    for (const char* verb : {"select:", "click:", "key:", "access:"}) {
        std::string prefix = verb;
        if (action.rfind(prefix, 0) != 0) continue;
        if (action.size() > prefix.size()) return true;
        *error = "user action '" + action + "' names nothing after the colon";
        return false;
    }
    *error = "unknown user action '" + action +
             "' (select:<paper name>, click:<button name>, key:<key>, access:<letter>, close)";
    return false;
}

bool UserActions(const Args& args, std::vector<std::string>* actions) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--user") continue;
        if (i + 1 >= args.size()) return Usage("--user needs an action") == 0;
        std::string error;
        if (!CheckUserAction(args[++i], &error)) return Usage(error) == 0;
        actions->push_back(args[i]);
    }
    return true;
}

}  // namespace larksim
