#include "client/CommandWords.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace CommandWords {

namespace {

// One parser for all request words; `command` receives what was chosen.
struct Parser {
    CLI::App app{"Requests to the Sorvane helper", "sorvanectl"};
    Command command;
    bool toTrash = false;
    std::vector<std::string> paths;
    std::string state;
    std::string label;
    std::string plist;
    std::string service;
    std::string bundleID;

    Parser() {
        app.require_subcommand(1, 1);
        app.set_help_flag();

        app.add_subcommand("version", "Asks for the helper's protocol version")->callback([this] {
            command = {HelperProtocol::Selector::version, {}};
        });

        for (const auto& [name, selector, summary] :
             {std::tuple{"remove", HelperProtocol::Selector::removeItems, "Removes found items"},
              std::tuple{"remove-chosen", HelperProtocol::Selector::removeChosenItems,
                         "Removes items the user chose"}}) {
            auto* sub = app.add_subcommand(name, summary);
            sub->add_flag("--trash", toTrash, "Move into the Trash instead of deleting");
            sub->add_option("PATH", paths, "Items to remove");
            sub->callback([this, selector = selector] { command = {selector, {paths, toTrash}}; });
        }

        auto* job = app.add_subcommand("launch-job", "Turns a launch job on or off");
        job->add_option("STATE", state, "enable or disable")->required()->check(CLI::IsMember({"enable", "disable"}));
        job->add_option("LABEL", label)->required();
        job->add_option("PLIST", plist)->required();
        job->callback([this] {
            command = {HelperProtocol::Selector::setLaunchJob, {label, plist, state == "enable"}};
        });

        auto* unload = app.add_subcommand("unload-daemon", "Unloads a launch job and removes its plist");
        unload->add_flag("--trash", toTrash, "Move the plist into the Trash instead of deleting it");
        unload->add_option("LABEL", label)->required();
        unload->add_option("PLIST", plist)->required();
        unload->callback([this] { command = {HelperProtocol::Selector::unloadLaunchDaemon, {label, plist, toTrash}}; });

        auto* reset = app.add_subcommand("reset-privacy", "Resets one privacy permission of one application");
        reset->add_option("SERVICE", service)->required();
        reset->add_option("BUNDLE_ID", bundleID)->required();
        reset->callback([this] { command = {HelperProtocol::Selector::resetPrivacyPermission, {service, bundleID}}; });

        auto* motion = app.add_subcommand("motion", "Switches the motion sensor");
        motion->add_option("STATE", state, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
        motion->callback([this] { command = {HelperProtocol::Selector::setMotionSensor, {state == "on"}}; });
    }
};

// Labels, plist paths, service names and bundle identifiers are sent exactly as
// given, also when they begin with "-": after a request's own flags, every word
// of these requests is a value.
std::vector<std::string> withValuesMarked(std::vector<std::string> words) {
    if (words.empty()) return words;
    const std::string& request = words.front();
    if (request != "launch-job" && request != "unload-daemon" && request != "reset-privacy") return words;
    std::size_t first = 1;
    if (request == "unload-daemon")
        while (first < words.size() && words[first] == "--trash") ++first;
    if (first < words.size() && words[first] != "--")
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(first), "--");
    return words;
}

}  // namespace

std::variant<Command, UsageError> parse(const std::vector<std::string>& words) {
    Parser parser;
    const std::vector<std::string> marked = withValuesMarked(words);
    std::vector<std::string> reversed(marked.rbegin(), marked.rend());
    try {
        parser.app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        return UsageError{error.what()};
    }
    return parser.command;
}

std::string usage() {
    return "usage: sorvanectl [--json] version\n"
           "       sorvanectl [--json] remove [--trash] PATH...\n"
           "       sorvanectl [--json] remove-chosen [--trash] PATH...\n"
           "       sorvanectl [--json] launch-job enable|disable LABEL PLIST\n"
           "       sorvanectl [--json] unload-daemon [--trash] LABEL PLIST\n"
           "       sorvanectl [--json] reset-privacy SERVICE BUNDLE_ID\n"
           "       sorvanectl [--json] motion on|off\n"
           "       sorvanectl session\n";
}

}  // namespace CommandWords
