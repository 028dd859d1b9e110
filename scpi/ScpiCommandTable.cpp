// The command table and the handler registry of ScpiServer.
//
// Table file: a header line, then rows of three quoted fields,
//   ":MEASure#:FLUX?","Flux density of the channel","handleMeasFluxRequest"
// The path's elements are written long form with the short form in capitals
// (MEASure: MEAS), "#" where a channel digit may stand and "?" for a query;
// a common command begins with "*"; a blank ends the path (what follows
// describes the argument).  The middle field is the table's own text.
#include "scpi/ScpiServer.h"

#include "console/Console.h"
#include "scpi/ScpiCmdNode.h"

#include <cstdio>
#include <fstream>

namespace {

constexpr std::size_t kMaxLineLength = 1023;
constexpr std::size_t kMinFieldLength = 4;

}  // namespace

int ScpiServer::shortFormLength(const std::string& element) {
    int n = 0;
    while (n < static_cast<int>(element.size()) && element[n] >= 'A' && element[n] <= 'Z') ++n;
    return n;
}

void ScpiServer::registerHandlers() {
    for (const auto* family : {&statusHandlers(), &systemHandlers(), &measureHandlers(), &settingsHandlers(),
                               &outputHandlers(), &calibrationHandlers(), &identityHandlers(), &factoryHandlers(),
                               &tableHandlers(), &dacHandlers()})
        for (const HandlerEntry& entry : *family) handlers.emplace(entry.name, entry.handler);
}

void ScpiServer::loadCommandTable() {
    root = std::make_unique<ScpiCmdNodeBranch>("root", 0);
    registerHandlers();
    std::ifstream file(tablePath);
    if (!file) return;
    std::string line;
    std::getline(file, line);   // the header
    while (std::getline(file, line)) {
        if (line.size() > kMaxLineLength) break;
        addCommand(line);
    }
}

void ScpiServer::addCommand(const std::string& line) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t quote = line.find('"'); quote != std::string::npos; quote = line.find('"', start)) {
        pieces.push_back(line.substr(start, quote - start));
        start = quote + 1;
    }
    pieces.push_back(line.substr(start));
    if (pieces.size() < 6) return;
    const std::string& path = pieces[1];
    const std::string& handlerName = pieces[5];
    if (path.size() < kMinFieldLength || handlerName.size() < kMinFieldLength) return;

    const auto found = handlers.find(handlerName);
    if (found == handlers.end()) {
        console::print("could not find %s\n\n", handlerName.c_str());
        return;
    }
    const ScpiHandler handler = found->second;

    std::unique_ptr<ScpiCmdNodeLeaf> leaf;
    ScpiCmdNodeBranch* parent = root.get();
    if (path[0] == '*') {
        const bool query = path.back() == '?';
        const std::string name = query ? path : path.substr(0, path.find(' '));
        leaf = std::make_unique<ScpiCmdNodeLeaf>(name, static_cast<int>(name.size()), query);
    } else if (path[0] == ':') {
        std::string rest = path.substr(1);
        for (std::size_t colon = rest.find(':'); colon != std::string::npos; colon = rest.find(':')) {
            const std::string element = rest.substr(0, colon);
            rest.erase(0, colon + 1);
            const int length = shortFormLength(element);
            const std::string shortForm = element.substr(0, static_cast<std::size_t>(length));
            ScpiCmdNode* node = parent->find(shortForm, 2);
            if (node && !node->isLeaf()) {
                parent = static_cast<ScpiCmdNodeBranch*>(node);
            } else {
                parent = static_cast<ScpiCmdNodeBranch*>(
                    parent->addChild(std::make_unique<ScpiCmdNodeBranch>(shortForm, length)));
            }
        }
        const std::string last = rest.substr(0, rest.find(' '));
        const bool query = !last.empty() && last.back() == '?';
        const int length = shortFormLength(last);
        leaf = std::make_unique<ScpiCmdNodeLeaf>(last.substr(0, static_cast<std::size_t>(length)), length, query);
    } else {
        console::print("Error in command: does not begin with colon\n\n");
        return;
    }
    leaf->signalCommand().connect(
        [this, handler](int channel, const std::string& command) { (this->*handler)(channel, command); });
    parent->addChild(std::move(leaf));
}
