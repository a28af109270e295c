# Embeds the command's picture (clsRequeteText.bmp) in the component as a
# byte array, regenerated whenever the picture changes.
set(_vark_bmp ${CMAKE_CURRENT_LIST_DIR}/clsRequeteText.bmp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_vark_bmp})
file(READ ${_vark_bmp} _vark_bmp_hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," VARK_COMMAND_BITMAP_BYTES "${_vark_bmp_hex}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/CommandBitmap.cpp.in
               ${CMAKE_CURRENT_BINARY_DIR}/CommandBitmap.cpp @ONLY)
target_sources(VARK_fuzzy PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/CommandBitmap.cpp)
