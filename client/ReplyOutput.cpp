#include "client/ReplyOutput.h"

namespace ReplyOutput {

nlohmann::json json(const HelperProtocol::ReplyValue& value) {
    struct Visitor {
        nlohmann::json operator()(std::monostate) const { return nullptr; }
        nlohmann::json operator()(const std::string& text) const { return text; }
        nlohmann::json operator()(bool flag) const { return flag; }
        nlohmann::json operator()(const HelperProtocol::TextDictionary& texts) const {
            nlohmann::json object = nlohmann::json::object();
            for (const auto& [key, text] : texts) object[key] = text;
            return object;
        }
    };
    return std::visit(Visitor{}, value);
}

std::string jsonLine(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string text(HelperProtocol::Selector selector, const HelperProtocol::ReplyValue& value) {
    if (const auto* texts = std::get_if<HelperProtocol::TextDictionary>(&value)) {
        if (texts->empty()) return "Every item was removed.\n";
        std::string lines;
        for (const auto& [path, reason] : *texts) lines += path + ": " + reason + "\n";
        return lines;
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        if (selector == HelperProtocol::Selector::setMotionSensor) {
            return *flag ? "The motion sensor is set.\n" : "The motion sensor could not be switched.\n";
        }
        return *flag ? "yes\n" : "no\n";
    }
    if (const auto* message = std::get_if<std::string>(&value)) return *message + "\n";
    return "Done.\n";
}

}  // namespace ReplyOutput
