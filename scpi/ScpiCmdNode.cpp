#include "scpi/ScpiCmdNode.h"

#include "console/ClientLines.h"

#include <cctype>

ScpiCmdNode::ScpiCmdNode(const std::string& nodeName, int length, bool isQueryNode)
    : name(nodeName), matchLength(length), query(isQueryNode) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

ScpiCmdNode::~ScpiCmdNode() = default;

bool ScpiCmdNode::sameName(const std::string& other) const {
    const std::size_t n = name == "ROOT" ? 4 : static_cast<std::size_t>(matchLength);
    if (name.size() >= n && other.size() >= n) return name.compare(0, n, other, 0, n) == 0;
    return name.size() < n && other.size() < n && name == other;
}

int ScpiCmdNode::dispatch(const std::string& command, int channel) {
    const std::size_t n = static_cast<std::size_t>(matchLength);
    if (command.size() < n || command.compare(0, n, name, 0, n) != 0) return -1;

    std::size_t p = command.find(':');
    if (p == 0) return execute(command, channel);
    if (p == std::string::npos) {
        if (!isLeaf()) return -1;
        p = command.size();
    } else if (isLeaf()) {
        return -1;
    }
    if (p < 2) return -1;

    const std::size_t blank = command.find_first_of(" \t");
    const bool blankFree = blank == std::string::npos || blank > p;
    if (!blankFree && blank == 0) return -1;
    const char mark = blankFree ? command[p - 1] : command[blank - 1];
    if ((mark == '?') != query) return -1;

    if (blankFree && std::isdigit(static_cast<unsigned char>(command[p - 1])))
        channel = command[p - 1] - '0';
    return execute(command, channel);
}

ScpiCmdNodeBranch::ScpiCmdNodeBranch(const std::string& nodeName, int length)
    : ScpiCmdNode(nodeName, length, false) {}

ScpiCmdNode* ScpiCmdNodeBranch::addChild(std::unique_ptr<ScpiCmdNode> node) {
    children.push_back(std::move(node));
    return children.back().get();
}

ScpiCmdNode* ScpiCmdNodeBranch::find(const std::string& sought, int depth) {
    if (sameName(sought)) return this;
    if (depth <= 1) return nullptr;
    for (auto& child : children)
        if (ScpiCmdNode* found = child->find(sought, depth - 1)) return found;
    return nullptr;
}

int ScpiCmdNodeBranch::execute(const std::string& command, int channel) {
    const std::size_t colon = command.find(':');
    if (colon == std::string::npos) {
        console::clientPrint("%s: colon not present\n", name.c_str());
        return -1;
    }
    if (colon + 1 == command.size()) {
        console::clientPrint("%s: colon is last character in cmd\n", name.c_str());
        return -1;
    }
    const std::string rest = command.substr(colon + 1);
    int result = -1;
    for (auto& child : children) {
        result = child->dispatch(rest, channel);
        if (result == 0) break;
    }
    return result;
}

ScpiCmdNodeLeaf::ScpiCmdNodeLeaf(const std::string& nodeName, int length, bool isQueryNode)
    : ScpiCmdNode(nodeName, length, isQueryNode) {}

ScpiCmdNode* ScpiCmdNodeLeaf::find(const std::string& sought, int) {
    return sameName(sought) ? this : nullptr;
}

int ScpiCmdNodeLeaf::execute(const std::string& text, int channel) {
    command.emit(channel, text);
    return 0;
}
