# pendrill_add_layer(<layer> <sources>...): the library pendrill_<layer> of src/<layer>/.
#
# Each layer exports an include root of its own, build/include/<layer>, holding one entry
# <layer> -> src/<layer>. `#include "db/DbConnection.h"` therefore resolves only in a target that
# links pendrill_db (directly, or through a library whose headers include db/), and a layer that
# includes a folder it does not link fails to compile. Link what a header of the layer includes
# PUBLIC, the rest PRIVATE.
#
# The libraries are static unless BUILD_SHARED_LIBS is on (scripts/check-shared-link.sh builds
# them shared with -Wl,--no-undefined, so each one must link on its own).
function(pendrill_layer_include_root layer out)
    set(${out} ${PROJECT_BINARY_DIR}/include/${layer} PARENT_SCOPE)
endfunction()

function(pendrill_add_layer layer)
    pendrill_layer_include_root(${layer} root)
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${layer} ${root}/${layer} SYMBOLIC)
    add_library(pendrill_${layer} ${ARGN})
    target_include_directories(pendrill_${layer} PUBLIC ${root})
endfunction()
