// Regular expressions for the string library.
//
// A pattern is parsed into a small tree, then compiled into a program for a thread-list matcher
// (every alternative advances in step over the text). Alternatives and greedy closures keep the
// usual leftmost-first priorities, but the matcher needs no backtracking: time grows with
// text length times program size and the C stack is never used for the text. A balanced run (\m)
// is the exception: its end is found by scanning ahead, and runs that began at different places
// stay apart, so a pattern with one may take time growing with the square of the text's length.
// Parsing depth, program size and the number of groups are bounded, so no pattern can exhaust the
// stack or memory.
#include <sqstdstring.h>

#include <cstdint>
#include <memory>
#include <new>
#include <unordered_set>
#include <vector>

#include "rex_internal.h"

namespace {

constexpr int kMaxDepth = 200;         // nested groups and repetitions
constexpr int kMaxProgram = 8192;      // instructions after expanding counted repetitions
constexpr int kMaxGroups = 128;        // capturing groups
constexpr int kMaxRepeatCount = 0xFFFF;

enum class Op : uint8_t {
  Char,
  Any,
  Class,
  Balanced,  // x opens, y closes: consumes one character a step until the run that began here is balanced
  Split,
  Jmp,
  Save,
  Bol,
  Eol,
  WordBoundary,
  NotWordBoundary,
  Match
};

struct Inst {
  Op op;
  int x = 0;  // character, class index, jump target (preferred) or save slot
  int y = 0;  // second jump target of Split
};

struct CharClass {
  bool negated = false;
  std::vector<std::pair<char16_t, char16_t>> ranges;
  std::vector<char16_t> named;  // predefined class letters (\d, \W, ...)
};

bool IsAsciiAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsWord(char16_t c) { return IsAsciiAlpha(c) || IsDigit(c) || c == u'_'; }
bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
bool IsControl(char16_t c) { return c < 0x20 || c == 0x7F; }
bool IsPunct(char16_t c) { return c > 0x20 && c < 0x7F && !IsAsciiAlpha(c) && !IsDigit(c); }

bool IsNamedClassLetter(char16_t l) {
  switch (l) {
    case u'a': case u'A': case u'w': case u'W': case u's': case u'S': case u'd': case u'D':
    case u'x': case u'X': case u'c': case u'C': case u'p': case u'P': case u'l': case u'u':
      return true;
    default:
      return false;
  }
}

bool MatchesNamedClass(char16_t letter, char16_t c) {
  switch (letter) {
    case u'a': return IsAsciiAlpha(c);
    case u'A': return !IsAsciiAlpha(c);
    case u'w': return IsWord(c);
    case u'W': return !IsWord(c);
    case u's': return IsSpace(c);
    case u'S': return !IsSpace(c);
    case u'd': return IsDigit(c);
    case u'D': return !IsDigit(c);
    case u'x': return IsHex(c);
    case u'X': return !IsHex(c);
    case u'c': return IsControl(c);
    case u'C': return !IsControl(c);
    case u'p': return IsPunct(c);
    case u'P': return !IsPunct(c);
    case u'l': return c >= u'a' && c <= u'z';
    case u'u': return c >= u'A' && c <= u'Z';
    default: return false;
  }
}

bool ClassMatches(const CharClass& cc, char16_t c) {
  bool in = false;
  for (const auto& r : cc.ranges) {
    if (c >= r.first && c <= r.second) {
      in = true;
      break;
    }
  }
  if (!in) {
    for (char16_t l : cc.named) {
      if (MatchesNamedClass(l, c)) {
        in = true;
        break;
      }
    }
  }
  return in != cc.negated;
}

char16_t EscapedChar(char16_t c) {
  switch (c) {
    case u't': return u'\t';
    case u'n': return u'\n';
    case u'r': return u'\r';
    case u'f': return u'\f';
    default: return c;
  }
}

// ---- parse tree -----------------------------------------------------------------------------------

enum class NodeKind : uint8_t {
  Empty,
  Char,
  Any,
  Class,
  Balanced,
  Bol,
  Eol,
  WordBoundary,
  NotWordBoundary,
  Group,
  Concat,
  Alt,
  Repeat
};

struct Node {
  explicit Node(NodeKind k) : kind(k) {}
  NodeKind kind;
  int value = 0;         // character, class index, opening character or capture number (-1: not capturing)
  int min = 0, max = 0;  // repetition bounds, max -1 for unbounded; min is the closing character of a balanced run
  int depth = 0;
  std::vector<int> children;
};

constexpr const SQChar* kEscapeArgumentExpected = u"letter expected for argument of escape sequence";
constexpr const SQChar* kInvalidRange = u"invalid range";
constexpr const SQChar* kExpectedParen = u"expected paren";

struct ParseError {
  const SQChar* message;
};

class Parser {
 public:
  Parser(const SQChar* pattern, std::vector<CharClass>& classes) : p_(pattern), classes_(classes) {}

  int ParseAll() {
    int root = ParseAlternation(0);
    if (*p_ == u')') throw ParseError{u"unexpected character"};
    return root;
  }
  std::vector<Node>& Nodes() { return nodes_; }
  int Groups() const { return groups_; }
  bool HasBalanced() const { return hasBalanced_; }

 private:
  int Add(Node n) {
    nodes_.push_back(std::move(n));
    return int(nodes_.size()) - 1;
  }
  int Leaf(NodeKind k, int value = 0) {
    Node n(k);
    n.value = value;
    return Add(std::move(n));
  }

  int ParseAlternation(int depth) {
    if (depth > kMaxDepth) throw ParseError{u"expression nested too deeply"};
    Node alt(NodeKind::Alt);
    alt.children.push_back(ParseSequence(depth));
    while (*p_ == u'|') {
      ++p_;
      // An alternative with nothing after the bar is refused rather than matching the empty text.
      if (!*p_ || *p_ == u'|' || *p_ == u')') throw ParseError{u"letter expected"};
      alt.children.push_back(ParseSequence(depth));
    }
    if (alt.children.size() == 1) return alt.children[0];
    for (int c : alt.children) alt.depth = std::max(alt.depth, nodes_[size_t(c)].depth + 1);
    return Add(std::move(alt));
  }

  int ParseSequence(int depth) {
    Node seq(NodeKind::Concat);
    while (*p_ && *p_ != u'|' && *p_ != u')') {
      int atom = ParseAtom(depth);
      atom = ParseQuantifiers(atom);
      seq.children.push_back(atom);
    }
    if (seq.children.empty()) return Leaf(NodeKind::Empty);
    if (seq.children.size() == 1) return seq.children[0];
    for (int c : seq.children) seq.depth = std::max(seq.depth, nodes_[size_t(c)].depth + 1);
    return Add(std::move(seq));
  }

  int ParseNumber() {
    if (!IsDigit(*p_)) throw ParseError{u"number expected"};
    int n = 0;
    while (IsDigit(*p_)) {
      n = n * 10 + (*p_ - u'0');
      if (n > kMaxRepeatCount) throw ParseError{u"repetition count too large"};
      ++p_;
    }
    return n;
  }

  int ParseQuantifiers(int atom) {
    for (;;) {
      int min, max;
      switch (*p_) {
        case u'*': min = 0; max = -1; ++p_; break;
        case u'+': min = 1; max = -1; ++p_; break;
        case u'?': min = 0; max = 1; ++p_; break;
        case u'{': {
          ++p_;
          min = ParseNumber();
          max = min;
          if (*p_ == u',') {
            ++p_;
            max = *p_ == u'}' ? -1 : ParseNumber();
          }
          if (*p_ != u'}') throw ParseError{u"expected '}'"};
          ++p_;
          if (max != -1 && max < min) throw ParseError{u"invalid repetition bounds"};
          break;
        }
        default:
          return atom;
      }
      NodeKind k = nodes_[size_t(atom)].kind;
      if (k == NodeKind::Bol || k == NodeKind::Eol || k == NodeKind::WordBoundary ||
          k == NodeKind::NotWordBoundary || k == NodeKind::Empty)
        throw ParseError{u"nothing to repeat"};
      Node r(NodeKind::Repeat);
      r.min = min;
      r.max = max;
      r.depth = nodes_[size_t(atom)].depth + 1;
      if (r.depth > kMaxDepth) throw ParseError{u"expression nested too deeply"};
      r.children.push_back(atom);
      atom = Add(std::move(r));
    }
  }

  int ParseAtom(int depth) {
    char16_t c = *p_;
    switch (c) {
      case u'(': {
        ++p_;
        int capture = -1;
        if (p_[0] == u'?' && p_[1] == u':') {
          p_ += 2;
        } else {
          if (groups_ >= kMaxGroups) throw ParseError{u"too many capturing groups"};
          capture = ++groups_;
        }
        // A group must hold something and must be closed; both faults are one fault, a missing paren.
        if (*p_ == u')') throw ParseError{kExpectedParen};
        int inner = ParseAlternation(depth + 1);
        if (*p_ != u')') throw ParseError{kExpectedParen};
        ++p_;
        Node g(NodeKind::Group);
        g.value = capture;
        g.depth = nodes_[size_t(inner)].depth + 1;
        g.children.push_back(inner);
        return Add(std::move(g));
      }
      case u'[': ++p_; return ParseClass();
      case u'.': ++p_; return Leaf(NodeKind::Any);
      case u'^': ++p_; return Leaf(NodeKind::Bol);
      case u'$': ++p_; return Leaf(NodeKind::Eol);
      // Nothing precedes a '*' here, so it stands for itself.
      case u'*': ++p_; return Leaf(NodeKind::Char, c);
      case u'+': case u'?': case u'{':
        throw ParseError{u"nothing to repeat"};
      case u'\\': {
        ++p_;
        char16_t e = *p_;
        if (!e) throw ParseError{kEscapeArgumentExpected};
        ++p_;
        if (e == u'b') return Leaf(NodeKind::WordBoundary);
        if (e == u'B') return Leaf(NodeKind::NotWordBoundary);
        if (e == u'm') {
          if (!p_[0] || !p_[1]) throw ParseError{u"balanced chars expected"};
          Node balanced(NodeKind::Balanced);
          balanced.value = p_[0];
          balanced.min = p_[1];
          p_ += 2;
          hasBalanced_ = true;
          return Add(std::move(balanced));
        }
        if (IsNamedClassLetter(e)) {
          CharClass cc;
          cc.named.push_back(e);
          classes_.push_back(std::move(cc));
          return Leaf(NodeKind::Class, int(classes_.size()) - 1);
        }
        return Leaf(NodeKind::Char, EscapedChar(e));
      }
      default:
        ++p_;
        return Leaf(NodeKind::Char, c);
    }
  }

  int ParseClass() {
    CharClass cc;
    if (*p_ == u'^') {
      cc.negated = true;
      ++p_;
    }
    if (*p_ == u']') throw ParseError{u"empty character class"};
    while (*p_ != u']') {
      if (!*p_) throw ParseError{u"letter expected"};
      char16_t first;
      if (*p_ == u'\\') {
        ++p_;
        if (!*p_) throw ParseError{u"letter expected"};
        char16_t e = *p_++;
        if (IsNamedClassLetter(e)) {
          cc.named.push_back(e);
          continue;
        }
        first = EscapedChar(e);
      } else {
        first = *p_++;
      }
      if (p_[0] == u'-') {
        ++p_;
        if (*p_ == u']') throw ParseError{kInvalidRange};
        if (!*p_) throw ParseError{u"letter expected"};
        char16_t last;
        if (*p_ == u'\\') {
          ++p_;
          if (!*p_) throw ParseError{u"letter expected"};
          char16_t e = *p_++;
          if (IsNamedClassLetter(e)) throw ParseError{kInvalidRange};
          last = EscapedChar(e);
        } else {
          last = *p_++;
        }
        if (last < first) throw ParseError{kInvalidRange};
        cc.ranges.emplace_back(first, last);
      } else {
        cc.ranges.emplace_back(first, first);
      }
    }
    ++p_;
    classes_.push_back(std::move(cc));
    return Leaf(NodeKind::Class, int(classes_.size()) - 1);
  }

  const SQChar* p_;
  std::vector<CharClass>& classes_;
  std::vector<Node> nodes_;
  int groups_ = 0;
  bool hasBalanced_ = false;
};

// ---- code generation ------------------------------------------------------------------------------

class Emitter {
 public:
  Emitter(const std::vector<Node>& nodes, std::vector<Inst>& prog) : nodes_(nodes), prog_(prog) {}

  int Emit(Op op, int x = 0, int y = 0) {
    if (prog_.size() >= size_t(kMaxProgram)) throw ParseError{u"expression too complex"};
    prog_.push_back(Inst{op, x, y});
    return int(prog_.size()) - 1;
  }

  // Recursion depth is bounded by the parse tree's depth (kMaxDepth).
  void Gen(int index) {
    const Node& n = nodes_[size_t(index)];
    switch (n.kind) {
      case NodeKind::Empty: break;
      case NodeKind::Char: Emit(Op::Char, n.value); break;
      case NodeKind::Any: Emit(Op::Any); break;
      case NodeKind::Class: Emit(Op::Class, n.value); break;
      case NodeKind::Balanced:
        Emit(Op::Balanced, n.value, n.min);
        break;
      case NodeKind::Bol: Emit(Op::Bol); break;
      case NodeKind::Eol: Emit(Op::Eol); break;
      case NodeKind::WordBoundary: Emit(Op::WordBoundary); break;
      case NodeKind::NotWordBoundary: Emit(Op::NotWordBoundary); break;
      case NodeKind::Group:
        if (n.value >= 0) Emit(Op::Save, n.value * 2);
        Gen(n.children[0]);
        if (n.value >= 0) Emit(Op::Save, n.value * 2 + 1);
        break;
      case NodeKind::Concat:
        for (int c : n.children) Gen(c);
        break;
      case NodeKind::Alt: {
        std::vector<int> exits;
        for (size_t i = 0; i < n.children.size(); ++i) {
          if (i + 1 < n.children.size()) {
            int split = Emit(Op::Split);
            prog_[size_t(split)].x = split + 1;
            Gen(n.children[i]);
            exits.push_back(Emit(Op::Jmp));
            prog_[size_t(split)].y = int(prog_.size());
          } else {
            Gen(n.children[i]);
          }
        }
        for (int e : exits) prog_[size_t(e)].x = int(prog_.size());
        break;
      }
      case NodeKind::Repeat: {
        int child = n.children[0];
        for (int i = 0; i < n.min; ++i) Gen(child);
        if (n.max == -1) {
          int split = Emit(Op::Split);
          prog_[size_t(split)].x = split + 1;
          Gen(child);
          Emit(Op::Jmp, split);
          prog_[size_t(split)].y = int(prog_.size());
        } else {
          std::vector<int> splits;
          for (int i = n.min; i < n.max; ++i) {
            int split = Emit(Op::Split);
            prog_[size_t(split)].x = split + 1;
            splits.push_back(split);
            Gen(child);
          }
          for (int s : splits) prog_[size_t(s)].y = int(prog_.size());
        }
        break;
      }
    }
  }

 private:
  const std::vector<Node>& nodes_;
  std::vector<Inst>& prog_;
};

}  // namespace

struct SQRex {
  std::vector<Inst> prog;
  std::vector<CharClass> classes;
  int slots = 2;  // two per sub-expression, the whole match included
  std::vector<int> result;  // offsets of the last match from resultBase, -1 when unset
  const SQChar* resultBase = nullptr;
  bool hasResult = false;
  int firstChar = -1;  // the character every match starts with, when the pattern fixes one
  // A thread inside a balanced run keeps where the run ends in one extra slot past the captures (-1 outside a
  // run); threads at the same place differ by it, so they are told apart by it rather than merged.
  int wakeSlot = -1;

  // Matcher work areas, kept between calls to avoid reallocating.
  struct Thread {
    int pc;
    int caps;  // offset into the owning list's capture store
  };
  struct ThreadList {
    std::vector<Thread> threads;
    std::vector<int> caps;
    void Clear() {
      threads.clear();
      caps.clear();
    }
  };
  struct Pending {
    int pc;
    int caps;  // offset into scratch
  };
  ThreadList lists[2];
  std::vector<Pending> stack;
  std::vector<int> scratch;
  std::vector<unsigned> marks;
  unsigned generation = 0;

  bool Run(const SQChar* begin, const SQChar* end, bool whole);

 private:
  void AddThread(ThreadList& list, int pc, const int* caps, int pos, const SQChar* begin, int len);
  // True when a thread at pc with this run end is already in the list being built (the earlier one has the
  // higher priority and the same future); records it otherwise.
  bool Waiting(int pc, int wake) {
    if (waitingGeneration != generation) {
      waiting.clear();
      waitingGeneration = generation;
    }
    return !waiting.insert((std::uint64_t(std::uint32_t(pc)) << 32) | std::uint32_t(wake)).second;
  }
  std::unordered_set<std::uint64_t> waiting;
  unsigned waitingGeneration = 0;
  std::vector<int> stepCaps;
};

// The end (one past the closing character) of the balanced run that opens at pos, or -1 when the text ends first.
static int BalancedEnd(const SQChar* begin, int pos, int len, char16_t open, char16_t close) {
  int depth = 1;
  for (int i = pos + 1; i < len; ++i) {
    if (begin[i] == close) {
      if (--depth == 0) return i + 1;
    } else if (begin[i] == open) {
      ++depth;
    }
  }
  return -1;
}

void SQRex::AddThread(ThreadList& list, int pc, const int* caps, int pos, const SQChar* begin, int len) {
  stack.clear();
  scratch.assign(caps, caps + slots);
  stack.push_back(Pending{pc, 0});
  while (!stack.empty()) {
    Pending e = stack.back();
    stack.pop_back();
    const Inst& in = prog[size_t(e.pc)];
    if (in.op == Op::Balanced) {
      if (Waiting(e.pc, scratch[size_t(e.caps + wakeSlot)])) continue;
    } else {
      if (marks[size_t(e.pc)] == generation) continue;
      marks[size_t(e.pc)] = generation;
    }
    switch (in.op) {
      case Op::Jmp: stack.push_back(Pending{in.x, e.caps}); break;
      case Op::Split:
        stack.push_back(Pending{in.y, e.caps});  // lower priority: explored after x
        stack.push_back(Pending{in.x, e.caps});
        break;
      case Op::Save: {
        // A group passed more than once (under a repetition) keeps where its first pass began and ended.
        if (scratch[size_t(e.caps + in.x)] >= 0) {
          stack.push_back(Pending{e.pc + 1, e.caps});
          break;
        }
        int copy = int(scratch.size());
        scratch.insert(scratch.end(), scratch.begin() + e.caps, scratch.begin() + e.caps + slots);
        scratch[size_t(copy + in.x)] = pos;
        stack.push_back(Pending{e.pc + 1, copy});
        break;
      }
      case Op::Bol:
        if (pos == 0) stack.push_back(Pending{e.pc + 1, e.caps});
        break;
      case Op::Eol:
        if (pos == len) stack.push_back(Pending{e.pc + 1, e.caps});
        break;
      case Op::WordBoundary:
      case Op::NotWordBoundary: {
        bool before = pos > 0 && IsWord(begin[pos - 1]);
        bool after = pos < len && IsWord(begin[pos]);
        if ((before != after) == (in.op == Op::WordBoundary)) stack.push_back(Pending{e.pc + 1, e.caps});
        break;
      }
      default: {
        int offset = int(list.caps.size());
        list.caps.insert(list.caps.end(), scratch.begin() + e.caps, scratch.begin() + e.caps + slots);
        list.threads.push_back(Thread{e.pc, offset});
        break;
      }
    }
  }
}

bool SQRex::Run(const SQChar* begin, const SQChar* end, bool whole) {
  hasResult = false;
  if (!begin || !end || end < begin || end - begin > 0x7FFFFFFF) return false;
  int len = int(end - begin);
  marks.assign(prog.size(), 0);
  generation = 0;
  waiting.clear();
  waitingGeneration = 0;
  std::vector<int> none(size_t(slots), -1);
  std::vector<int> best;
  bool matched = false;

  ThreadList* clist = &lists[0];
  ThreadList* nlist = &lists[1];
  clist->Clear();
  ++generation;
  AddThread(*clist, 0, none.data(), 0, begin, len);
  for (int pos = 0;; ++pos) {
    ++generation;
    nlist->Clear();
    for (const Thread& t : clist->threads) {
      const Inst& in = prog[size_t(t.pc)];
      const int* caps = clist->caps.data() + t.caps;
      bool step = false;
      if (in.op == Op::Match) {
        if (whole && pos != len) continue;
        best.assign(caps, caps + slots);
        matched = true;
        break;  // every thread after this one has a lower priority
      }
      if (in.op == Op::Balanced) {
        int wake = caps[wakeSlot];
        if (wake < 0 && pos < len && begin[pos] == char16_t(in.x))
          wake = BalancedEnd(begin, pos, len, char16_t(in.x), char16_t(in.y));
        if (wake < 0) continue;
        stepCaps.assign(caps, caps + slots);
        const bool done = pos + 1 == wake;
        stepCaps[size_t(wakeSlot)] = done ? -1 : wake;
        AddThread(*nlist, done ? t.pc + 1 : t.pc, stepCaps.data(), pos + 1, begin, len);
        continue;
      }
      switch (in.op) {
        case Op::Char: step = pos < len && begin[pos] == char16_t(in.x); break;
        case Op::Any: step = pos < len; break;
        case Op::Class: step = pos < len && ClassMatches(classes[size_t(in.x)], begin[pos]); break;
        default: break;
      }
      if (step) AddThread(*nlist, t.pc + 1, caps, pos + 1, begin, len);
    }
    if (pos >= len) break;
    std::swap(clist, nlist);
    // A new attempt starts at each position until something matched; it has the lowest priority.
    if (!matched && !whole) {
      int next = pos + 1;
      if (clist->threads.empty() && firstChar >= 0) {
        while (next < len && begin[next] != char16_t(firstChar)) ++next;
        if (next >= len) break;
        pos = next - 1;  // nothing alive in between: go straight to the candidate
      }
      AddThread(*clist, 0, none.data(), next, begin, len);
    }
    if (clist->threads.empty() && (matched || whole)) break;
  }
  if (!matched) return false;
  result = std::move(best);
  resultBase = begin;
  hasResult = true;
  return true;
}

namespace {

int Length(const SQChar* s) {
  const SQChar* p = s;
  while (*p) ++p;
  return int(p - s);
}

}  // namespace

SQRex* sqstd_rex_compile(const SQChar* pattern, const SQChar** error) {
  const SQChar* dummy;
  if (!error) error = &dummy;
  if (!pattern) {
    *error = u"null pattern";
    return nullptr;
  }
  try {
    std::unique_ptr<SQRex> rex(new SQRex());
    Parser parser(pattern, rex->classes);
    int root = parser.ParseAll();
    Emitter emitter(parser.Nodes(), rex->prog);
    emitter.Emit(Op::Save, 0);
    emitter.Gen(root);
    emitter.Emit(Op::Save, 1);
    emitter.Emit(Op::Match);
    rex->slots = (parser.Groups() + 1) * 2;
    if (parser.HasBalanced()) rex->wakeSlot = rex->slots++;
    size_t first = 1;
    while (rex->prog[first].op == Op::Save && first + 1 < rex->prog.size()) ++first;
    if (rex->prog[first].op == Op::Char) rex->firstChar = rex->prog[first].x;
    *error = nullptr;
    return rex.release();
  } catch (const ParseError& e) {
    *error = e.message;
  } catch (const std::bad_alloc&) {
    *error = u"out of memory";
  }
  return nullptr;
}

void sqstd_rex_free(SQRex* exp) { delete exp; }

SQBool sqstd_rex_match(SQRex* exp, const SQChar* text) {
  if (!exp || !text) return SQFalse;
  return exp->Run(text, text + Length(text), true) ? SQTrue : SQFalse;
}

// An empty text holds no match to search for, even for a pattern that matches the empty text.
SQBool sqstd_rex_searchrange(SQRex* exp, const SQChar* text_begin, const SQChar* text_end, const SQChar** out_begin,
                             const SQChar** out_end) {
  if (!exp || text_begin >= text_end || !exp->Run(text_begin, text_end, false)) return SQFalse;
  if (out_begin) *out_begin = text_begin + exp->result[0];
  if (out_end) *out_end = text_begin + exp->result[1];
  return SQTrue;
}

SQBool sqstd_rex_search(SQRex* exp, const SQChar* text, const SQChar** out_begin, const SQChar** out_end) {
  if (!text) return SQFalse;
  return sqstd_rex_searchrange(exp, text, text + Length(text), out_begin, out_end);
}

SQInteger sqstd_rex_getsubexpcount(SQRex* exp) { return exp ? exp->slots / 2 : 0; }

SQBool sqstd_rex_getsubexp(SQRex* exp, SQInteger n, SQRexMatch* subexp) {
  if (!exp || !subexp || n < 0 || n >= exp->slots / 2) return SQFalse;
  subexp->begin = nullptr;
  subexp->len = 0;
  if (exp->hasResult) {
    int b = exp->result[size_t(n * 2)], e = exp->result[size_t(n * 2 + 1)];
    if (b >= 0 && e >= b) {
      subexp->begin = exp->resultBase + b;
      subexp->len = e - b;
    }
  }
  return SQTrue;
}

SQBool sqstd::RexMatchRange(SQRex* exp, const SQChar* begin, const SQChar* end) {
  if (!exp) return SQFalse;
  return exp->Run(begin, end, true) ? SQTrue : SQFalse;
}
