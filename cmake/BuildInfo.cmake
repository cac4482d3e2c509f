# Writes the source file that tells the program its version and the commit it
# was built from. Run as a script at every build (cmake -P), so that a new
# commit reaches "--version" without configuring again; the file is rewritten
# only when its text changes, so an unchanged build compiles nothing.
#
#   cmake -DOUTPUT=buildinfo.cpp -DVERSION=1.1.0 -DSOURCE_DIR=<tree>
#         [-DGIT=<git program>] [-DCOMMIT=<commit>] -P BuildInfo.cmake
#
# COMMIT, when given, is taken as it is (a build from a source archive can name
# its commit this way). Otherwise the commit is asked of git, and only when
# SOURCE_DIR is the top of a git work tree: a source archive unpacked inside
# some other repository must not take that repository's commit. No git, or no
# work tree: the commit is unknown and the version line shows none.
cmake_minimum_required(VERSION 3.20)

foreach(required OUTPUT VERSION SOURCE_DIR)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "BuildInfo.cmake needs -D${required}=...")
  endif()
endforeach()

set(commit "${COMMIT}")
if(commit STREQUAL "" AND GIT)
  execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE top_status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(top_status EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
                      OUTPUT_VARIABLE commit RESULT_VARIABLE head_status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT head_status EQUAL 0)
        set(commit "")
      endif()
    endif()
  endif()
endif()

# The texts go into C++ string literals: only the characters a version or a
# commit name is made of.
foreach(text IN ITEMS "${VERSION}" "${commit}")
  if(NOT text MATCHES "^[0-9A-Za-z.+_~-]*$")
    message(FATAL_ERROR "BuildInfo.cmake: \"${text}\" is not a version or a commit name")
  endif()
endforeach()

file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[
// Written by cmake/BuildInfo.cmake at build time; not kept in the sources.
#include "version.h"

namespace qm {

const TBuildId& ThisBuild() {
    static const TBuildId build{"@VERSION@", "@commit@"};
    return build;
}

} // namespace qm
]] @ONLY)
