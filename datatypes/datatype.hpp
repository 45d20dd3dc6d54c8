// The datatype registry: one row of action implementations per datatype.
//
// Every datatype registers once at start-up with its id, its parent and its
// name, and one entry per action slot: its own implementation, the parent's
// entry (copied at registration, so parents register first), or none. The
// action dispatchers then find an implementation with one index operation.
// This module also holds datatype! (id 1), whose values denote a datatype.
#pragma once

#include "evaluator/actions.hpp"

namespace zir {
namespace datatype {

struct TypeName {
    const char* name;   // "block!"
    i32 length;         // bytes without the "!"
    Cell word;          // the name's global word (header 0 until made)
};

extern TypeName names[TYPE_TOTAL];
extern action::Generic table[TYPE_TOTAL][ACTION_SLOTS];
extern u32 highest;

// The C++ signature of each action slot.
template <u32 S>
struct SlotSig;
template <> struct SlotSig<ACT_MAKE> { using type = action::Make; };
template <> struct SlotSig<ACT_RANDOM> { using type = action::Random; };
template <> struct SlotSig<ACT_REFLECT> { using type = action::Reflect; };
template <> struct SlotSig<ACT_TO> { using type = action::Make; };
template <> struct SlotSig<ACT_FORM> { using type = action::Form; };
template <> struct SlotSig<ACT_MOLD> { using type = action::Mold; };
template <> struct SlotSig<ACT_EVAL_PATH> { using type = action::EvalPath; };
template <> struct SlotSig<ACT_COMPARE> { using type = action::Compare; };
template <> struct SlotSig<ACT_ABSOLUTE> { using type = action::Direct; };
template <> struct SlotSig<ACT_ADD> { using type = action::Direct; };
template <> struct SlotSig<ACT_DIVIDE> { using type = action::Direct; };
template <> struct SlotSig<ACT_MULTIPLY> { using type = action::Direct; };
template <> struct SlotSig<ACT_NEGATE> { using type = action::Unary; };
template <> struct SlotSig<ACT_POWER> { using type = action::Direct; };
template <> struct SlotSig<ACT_REMAINDER> { using type = action::Direct; };
template <> struct SlotSig<ACT_ROUND> { using type = action::Round; };
template <> struct SlotSig<ACT_SUBTRACT> { using type = action::Direct; };
template <> struct SlotSig<ACT_EVEN_Q> { using type = action::Predicate; };
template <> struct SlotSig<ACT_ODD_Q> { using type = action::Predicate; };
template <> struct SlotSig<ACT_AND_T> { using type = action::Direct; };
template <> struct SlotSig<ACT_COMPLEMENT> { using type = action::Unary; };
template <> struct SlotSig<ACT_OR_T> { using type = action::Direct; };
template <> struct SlotSig<ACT_XOR_T> { using type = action::Direct; };
template <> struct SlotSig<ACT_APPEND> { using type = action::Insert; };
template <> struct SlotSig<ACT_AT> { using type = action::Direct; };
template <> struct SlotSig<ACT_BACK> { using type = action::Direct; };
template <> struct SlotSig<ACT_CHANGE> { using type = action::Change; };
template <> struct SlotSig<ACT_CLEAR> { using type = action::Unary; };
template <> struct SlotSig<ACT_COPY> { using type = action::Copy; };
template <> struct SlotSig<ACT_FIND> { using type = action::Find; };
template <> struct SlotSig<ACT_HEAD> { using type = action::Direct; };
template <> struct SlotSig<ACT_HEAD_Q> { using type = action::Direct; };
template <> struct SlotSig<ACT_INDEX_Q> { using type = action::Direct; };
template <> struct SlotSig<ACT_INSERT> { using type = action::Insert; };
template <> struct SlotSig<ACT_LENGTH_Q> { using type = action::Length; };
template <> struct SlotSig<ACT_MOVE> { using type = action::Move; };
template <> struct SlotSig<ACT_NEXT> { using type = action::Direct; };
template <> struct SlotSig<ACT_PICK> { using type = action::Pick; };
template <> struct SlotSig<ACT_POKE> { using type = action::Poke; };
template <> struct SlotSig<ACT_PUT> { using type = action::Put; };
template <> struct SlotSig<ACT_REMOVE> { using type = action::Remove; };
template <> struct SlotSig<ACT_REVERSE> { using type = action::Reverse; };
template <> struct SlotSig<ACT_SELECT> { using type = action::Select; };
template <> struct SlotSig<ACT_SORT> { using type = action::Sort; };
template <> struct SlotSig<ACT_SKIP> { using type = action::Direct; };
template <> struct SlotSig<ACT_SWAP> { using type = action::Swap; };
template <> struct SlotSig<ACT_TAIL> { using type = action::Direct; };
template <> struct SlotSig<ACT_TAIL_Q> { using type = action::Direct; };
template <> struct SlotSig<ACT_TAKE> { using type = action::Take; };
template <> struct SlotSig<ACT_TRIM> { using type = action::Trim; };
template <> struct SlotSig<ACT_CREATE> { using type = action::Unary; };
template <> struct SlotSig<ACT_CLOSE> { using type = action::Unary; };
template <> struct SlotSig<ACT_DELETE> { using type = action::Unary; };
template <> struct SlotSig<ACT_MODIFY> { using type = action::Modify; };
template <> struct SlotSig<ACT_OPEN> { using type = action::Open; };
template <> struct SlotSig<ACT_OPEN_Q> { using type = action::Unary; };
template <> struct SlotSig<ACT_QUERY> { using type = action::Unary; };
template <> struct SlotSig<ACT_READ> { using type = action::Read; };
template <> struct SlotSig<ACT_RENAME> { using type = action::Rename; };
template <> struct SlotSig<ACT_UPDATE> { using type = action::Unary; };
template <> struct SlotSig<ACT_WRITE> { using type = action::Write; };

struct Registration {
    u32 type;
    u32 parent;
    const char* name;
    action::Generic entries[ACTION_SLOTS];
    bool inherit[ACTION_SLOTS];

    // Every slot starts inherited from the parent (or unsupported without one).
    Registration(u32 type_id, u32 parent_id, const char* type_name);

    template <u32 S>
    Registration& on(typename SlotSig<S>::type f) {
        entries[S - 1] = reinterpret_cast<action::Generic>(f);
        inherit[S - 1] = false;
        return *this;
    }
    Registration& unsupported(u32 slot) {
        entries[slot - 1] = nullptr;
        inherit[slot - 1] = false;
        return *this;
    }
    // Makes every slot not given explicitly unsupported.
    Registration& only_own();
    // Takes the parent's entry for a slot (after `only_own`).
    Registration& from_parent(u32 slot) {
        inherit[slot - 1] = true;
        return *this;
    }
};

// Registers a datatype. Once the global context exists (a datatype
// registered late, after start-up), its name's word is made at once.
void register_(const Registration& r);
// Gives every datatype registered so far the global word of its name (start-up,
// once the global context exists).
void init_words();

inline bool is_type(const Cell* c, u32 t) { return TYPE_OF(c) == t; }
const char* name_of(u32 type);

// datatype! values.
void make_at(Cell* c, u32 type);
Cell* push(u32 type);
Cell* make_in(Cell* block, u32 type);
void init();

}  // namespace datatype
}  // namespace zir
