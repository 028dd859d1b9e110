// The command tree of a SCPI server.  Inner nodes (ScpiCmdNodeBranch) stand
// for path elements such as MEAS in ":MEAS:FLUX?", leaves (ScpiCmdNodeLeaf)
// for the last element; a leaf's command signal is bound to one handler.
//
// Matching goes by the short form, the upper-case letters an element is
// written with in the command table: a node of match length n takes every
// element whose first n characters are its name ("MEAS" takes MEAS,
// MEASURE, MEASXYZ and MEAS2).  Commands reach the root upper-cased and
// beginning with ":".
//
//   dispatch(cmd, ch)   1. the first n characters must equal the name's
//                       2. p = first ':'; p == 0: execute at once; no ':'
//                          only a leaf goes on (p = length); p > 0 only a
//                          branch goes on
//                       3. p < 2: no match (an element has two characters)
//                       4. the query mark: the character before p (or,
//                          when a blank comes first, before the blank) is
//                          '?' for a query node and anything else otherwise
//                       5. a digit before p (no blank in the element) sets
//                          the channel
//   branch execute      hands the text after its first ':' to each child
//                       in order, until one takes it
//   leaf execute        emits (channel, command) and returns 0
//
// Every return is 0 when a handler ran and -1 otherwise.  The tree is built
// once, before its server's threads start, and read only afterwards.
#pragma once

#include <sigc++/sigc++.h>

#include <memory>
#include <string>
#include <vector>

class ScpiCmdNode {
public:
    // The name is stored upper-cased.
    ScpiCmdNode(const std::string& name, int matchLength, bool query);
    virtual ~ScpiCmdNode();
    ScpiCmdNode(const ScpiCmdNode&) = delete;
    ScpiCmdNode& operator=(const ScpiCmdNode&) = delete;

    // This node when its name matches, else (depth > 1) the first match among
    // the children searched with depth - 1; null when none.
    virtual ScpiCmdNode* find(const std::string& name, int depth) = 0;
    virtual bool isLeaf() const = 0;
    virtual int execute(const std::string& command, int channel) = 0;

    int dispatch(const std::string& command, int channel);

    const std::string& getName() const { return name; }
    int getMatchLength() const { return matchLength; }
    bool isQuery() const { return query; }

protected:
    // The comparison of find(): the first n characters of both names, n being
    // the match length (4 for the root).
    bool sameName(const std::string& other) const;

    std::string name;
    int matchLength;
    bool query;
};

class ScpiCmdNodeBranch : public ScpiCmdNode {
public:
    ScpiCmdNodeBranch(const std::string& name, int matchLength);

    // Appends a child; the branch owns it.
    ScpiCmdNode* addChild(std::unique_ptr<ScpiCmdNode> node);
    const std::vector<std::unique_ptr<ScpiCmdNode>>& getChildren() const { return children; }

    ScpiCmdNode* find(const std::string& name, int depth) override;
    bool isLeaf() const override { return false; }
    int execute(const std::string& command, int channel) override;

private:
    std::vector<std::unique_ptr<ScpiCmdNode>> children;
};

class ScpiCmdNodeLeaf : public ScpiCmdNode {
public:
    using SignalCommand = sigc::signal<void, int, const std::string&>;

    ScpiCmdNodeLeaf(const std::string& name, int matchLength, bool query);

    // Emitted with the channel and the command text from this leaf's own
    // element on (arguments included); for a common command the whole command.
    SignalCommand& signalCommand() { return command; }

    ScpiCmdNode* find(const std::string& name, int depth) override;
    bool isLeaf() const override { return true; }
    int execute(const std::string& text, int channel) override;

private:
    SignalCommand command;
};
