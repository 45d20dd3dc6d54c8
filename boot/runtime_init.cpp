// Runtime initialisation: see runtime_init.hpp.
#include "boot/runtime_init.hpp"

#include "boot/boot_image.hpp"
#include "boot/catalog.hpp"
#include "boot/roots.hpp"
#include "boot/system.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/char.hpp"
#include "datatypes/context.hpp"
#include "datatypes/datatype.hpp"
#include "datatypes/date.hpp"
#include "datatypes/email.hpp"
#include "datatypes/error.hpp"
#include "datatypes/file.hpp"
#include "datatypes/float.hpp"
#include "datatypes/function.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/image.hpp"
#include "datatypes/integer.hpp"
#include "datatypes/issue.hpp"
#include "datatypes/logic.hpp"
#include "datatypes/map.hpp"
#include "datatypes/money.hpp"
#include "datatypes/native.hpp"
#include "datatypes/none.hpp"
#include "datatypes/object.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/path.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/port.hpp"
#include "datatypes/ref.hpp"
#include "datatypes/time.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string.hpp"
#include "datatypes/tag.hpp"
#include "datatypes/triple.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/unset.hpp"
#include "datatypes/url.hpp"
#include "datatypes/vector.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "loader/lexer.hpp"
#include "loader/zirbin.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/console.hpp"
#include "runtime/cycles.hpp"
#include "runtime/handle_table.hpp"
#include "runtime/hash_table.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"
#include "runtime/platform.hpp"
#include "runtime/print_hooks.hpp"
#include "services/checksum.hpp"
#include "services/compress.hpp"
#include "services/random.hpp"

namespace zir {
namespace runtime {

void init(bool words_from_image) {
    print_hooks::init();
    platform::init();
    console::init_attributes();
    random::init();   // sets the hash seed: before the first hash table
    hash_table::seed = random::hash_seed;
    memory::init();
    register_datatypes();
    actions::register_();
    init_tables(words_from_image);
}

void register_datatypes() {
    // Parents register before their children: rows are copied at registration.
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    symbol::init();
    context::init();
    word::init();
    lit_word::init();
    set_word::init();
    get_word::init();
    refinement::init();
    char_::init();
    native::init();
    action::init();
    op::init();
    path::init();
    function::init();
    routine::init();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    vector::init();
    map::init();
    hash::init();
    pair::init();
    percent::init();
    tuple::init();
    time::init();
    tag::init();
    email::init();
    handle::init();
    date::init();
    port::init();
    money::init();
    ref::init();
    point2D::init();
    point3D::init();
    image::init();
}

void init_tables(bool words_from_image) {
    handle_table::init();
    cycles::init();
    boot::init_root_block();
    case_folding::init();
    symbol::init_table();
    context::init_global();
    datatype::init_words();
    ownership::init();
    checksum::init();
    compress::init();
    stack::init();
    externals::init();
    series::init_state();
    block::init_state();
    map::init_state();
    vector::init_state();
    port::init_state();
    case_folding::init_state();
    url::init_state();
    email::init_state();
    function::init_state();
    object::init_state();
    image::init_state();
    catalog::init();
    bitset::init_state();
    point::init_state();
    time::init_state();
    lexer::init();
    natives::register_all();
    parse::init();
    boot::define_boot_native();
    if (words_from_image) {
        // The image's records define the action and native words and give
        // their specs; the boot native has none there, so it is recorded.
        actions::define_datatype_words();
        zirbin::init_state();
        zirbin::adopt_specs = true;
        boot::record_own_specs();
    } else {
        actions::define_words();
        natives::define_words();
        boot::record_own_specs();
        zirbin::adopt_specs = false;
    }
    interpreter::init();
}

}  // namespace runtime
}  // namespace zir
