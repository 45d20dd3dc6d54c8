// Terminal GUI backend: the steps that plain output takes around itself while
// a view is shown in the terminal.
#pragma once

namespace zir {
namespace terminal {

extern bool active;   // a view is on the terminal screen

// Before plain output: leave the view's drawing state. Nothing when no view is shown.
void pre_print();
// After plain output: redraw the view. Nothing when no view is shown.
void post_print();

}  // namespace terminal
}  // namespace zir
