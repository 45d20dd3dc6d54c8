// The path family (path!, lit-path!, set-path!, get-path!) and paren!.
//
// All five are stored exactly like blocks and inherit the block actions; they
// differ in their type id and in how they are made and written: a path writes
// its elements joined by "/", a lit-path with a leading "'", a set-path with a
// trailing ":", a get-path with a leading ":"; a paren is written in
// parentheses.
#pragma once

#include "runtime/cell.hpp"

namespace zir {

namespace path {

// Sets the cell's type to the path type and pushes a copy of it.
Cell* push(Cell* value, u32 type);
// An empty path! of n cells in the cell.
void make_at(Cell* c, i32 n);
void init();

}  // namespace path

namespace paren {
void init();
}  // namespace paren

}  // namespace zir
