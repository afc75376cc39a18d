# gtest_discover_tests with labels. Its PROPERTIES travel through several list expansions on the
# way to set_tests_properties, which turn LABELS "unit;core" into the label "unit" followed by a
# stray word, so `ctest -L core` found nothing. The labels are therefore set by a script of our
# own that CTest runs after the discovered tests exist; discovery leaves their names in
# <target>_TESTS.
#
#   conv_discover_tests(TARGET [gtest_discover_tests options...] LABELS label...)
include(GoogleTest)

function(conv_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LABELS")
  gtest_discover_tests(${target} ${arg_UNPARSED_ARGUMENTS})
  if(arg_LABELS)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
    file(WRITE "${script}"
      "if(${target}_TESTS)\n"
      "  set_tests_properties(\${${target}_TESTS} PROPERTIES LABELS \"${arg_LABELS}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()
