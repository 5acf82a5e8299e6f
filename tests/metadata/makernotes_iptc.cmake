lumivane_gtest(test_makernotes_iptc
  ${CMAKE_CURRENT_LIST_DIR}/MakerNotesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IptcReaderTest.cpp)
target_link_libraries(test_makernotes_iptc PRIVATE lumivane_metadata)
