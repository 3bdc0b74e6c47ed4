# Tests of quill check: a small effect spoiled in one way per module (fixtures/check_fixture.cpp)
# for each check to fail on, and the whole battery on Quillmont, which must pass.

set(check_fixture_defs)
set(check_fixture_targets)
foreach(fault GOOD TEXT_OVERRUN PROGRAM_OVERRUN EVENT_AT_END EVENT_OUTSIDE EVENT_BAD_MIDI
              EVENT_ORDER OUTPUT_OVERRUN OUTPUT_NAN PARAM_RANGE PARAM_NAN ALLOC LEAK LOCALE
              THREADS CRASH_4096 SWITCH_RATE)
    string(TOLOWER "check_fixture_${fault}" target)
    add_library(${target} MODULE fixtures/check_fixture.cpp)
    target_compile_definitions(${target} PRIVATE FAULT_${fault})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tool)
    target_link_libraries(${target} PRIVATE quill_warnings)
    set_target_properties(${target} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${tool_fixture_dir}
                                               CXX_VISIBILITY_PRESET hidden)
    list(APPEND check_fixture_defs CHECK_${fault}="$<TARGET_FILE:${target}>")
    list(APPEND check_fixture_targets ${target})
endforeach()

get_property(quill_rtsan_linked GLOBAL PROPERTY QUILL_RTSAN_LINKED)
add_executable(tool_check_tests tool_check_test.cpp)
target_include_directories(tool_check_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(tool_check_tests PRIVATE GTest::gtest_main quill_warnings)
target_compile_definitions(tool_check_tests PRIVATE ${tool_plugin_defs} ${tool_fixture_defs}
                           ${check_fixture_defs}
                           QUILL_PATH="$<TARGET_FILE:quill>"
                           RTSAN_LINKED=$<BOOL:${quill_rtsan_linked}>)
add_dependencies(tool_check_tests quill ${check_fixture_targets} ${tool_fixture_targets})
if(TARGET quillmont)
    add_dependencies(tool_check_tests quillmont)
endif()
gtest_discover_tests(tool_check_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)

# The whole battery on the plug-in itself, as users run it: every check must pass.
if(TARGET quillmont)
    add_test(NAME QuillCheck.Quillmont
             COMMAND quill check $<TARGET_FILE:quillmont> --quick)
    set_tests_properties(QuillCheck.Quillmont PROPERTIES TIMEOUT 900)
endif()
