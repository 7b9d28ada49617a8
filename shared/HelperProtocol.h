#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The protocol between the application and the helper, as both declare it:
// the seven operations, the arguments each takes before its reply block, how
// an argument converts to the type the operation declares, and the reply
// block's one argument. How messages travel is the transport's affair.
namespace HelperProtocol {

// The operations, in declaration order.
enum class Selector {
    removeItems,
    removeChosenItems,
    unloadLaunchDaemon,
    version,
    setMotionSensor,
    resetPrivacyPermission,
    setLaunchJob,
};

struct SelectorInfo {
    Selector selector;
    std::string_view name;  // spelled as in the protocol, e.g. "versionWithReply:"
    std::size_t arity;      // arguments before the reply block
};

const std::array<SelectorInfo, 7>& selectors();
const SelectorInfo& info(Selector selector);
// The operation whose name is exactly `name`.
std::optional<Selector> selectorNamed(std::string_view name);

// One argument as it arrived: a text, a truth value, or a list of texts;
// anything else arrives as absent (monostate).
using Argument = std::variant<std::monostate, std::string, bool, std::vector<std::string>>;
using Arguments = std::vector<Argument>;

// The conversions of an argument to the type an operation declares; a missing
// argument or one of another type gives the empty text, the empty list, false.
std::string textArgument(const Arguments& arguments, std::size_t index);
std::vector<std::string> textListArgument(const Arguments& arguments, std::size_t index);
bool flagArgument(const Arguments& arguments, std::size_t index);

// The reply block's one argument: nothing (a nil text), a text, a dictionary of
// texts, or a truth value.
using TextDictionary = std::map<std::string, std::string>;
using ReplyValue = std::variant<std::monostate, std::string, TextDictionary, bool>;

}  // namespace HelperProtocol
