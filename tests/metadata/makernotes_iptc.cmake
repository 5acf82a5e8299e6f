# SPDX-License-Identifier: GPL-3.0-or-later
# Tests of the maker-note decoder and the IPTC reader, and the replay of the
# saved fuzzing findings (tests/data/fuzz) through the fuzzers' entry points.
lumivane_gtest(test_makernotes_iptc
  ${CMAKE_CURRENT_LIST_DIR}/MakerNotesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MakerNotesSamplesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IptcReaderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IptcSamplesTest.cpp)
target_link_libraries(test_makernotes_iptc PRIVATE lumivane_metadata lumivane_test_folder)

lumivane_gtest(test_fuzz_regressions
  ${CMAKE_CURRENT_LIST_DIR}/FuzzRegressionTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../fuzz/FuzzTargets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../fuzz/ImageFuzzTargets.cpp)
target_include_directories(test_fuzz_regressions PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../fuzz)
target_link_libraries(test_fuzz_regressions PRIVATE lumivane_metadata lumivane_core)
