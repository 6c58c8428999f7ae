# The folders are layers, and the build enforces them: a library target sees the headers of its
# own folder and of the layers it links, nothing else. Each layer's headers are exposed through a
# folder of its own in the build tree (<build>/layers/<target>/<folder>/<header>, links to the
# sources), so `#include "osc/OSCHelper.h"` resolves only in targets that link mf_osc.
#
#   hostframework  <- nothing of ours (the generated facts header only)
#   params         <- the parameter table, the shared record and constants (effect/)
#   osc            <- hostframework, params
#   midiscript     <- osc, hostframework, params
#   effect         <- midiscript, osc, hostframework, params
#   apps, lv2      <- effect
#   gui            <- hostframework, params (never the engine, scripts or OSC)

# marrowfin_layer(target folder HEADERS h...): exposes the named headers of <folder>.
function(marrowfin_layer target folder)
  cmake_parse_arguments(ARG "" "" "HEADERS" ${ARGN})
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  file(MAKE_DIRECTORY ${root}/${folder})
  foreach(header ${ARG_HEADERS})
    get_filename_component(name ${header} NAME)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder}/${name} ${root}/${folder}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
  marrowfin_warnings(${target})
endfunction()

# A target outside the layers (executables, plug-in modules, tests, benchmarks): warnings only;
# what it may include comes from what it links.
function(marrowfin_target target)
  marrowfin_warnings(${target})
endfunction()

# Versions and identifiers, generated from project() into one header every layer may include.
add_library(mf_facts INTERFACE)
configure_file(${PROJECT_SOURCE_DIR}/cmake/MarrowfinFacts.h.in ${PROJECT_BINARY_DIR}/layers/facts/MarrowfinFacts.h @ONLY)
target_include_directories(mf_facts INTERFACE ${PROJECT_BINARY_DIR}/layers/facts)
