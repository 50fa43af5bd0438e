# Rich-text reader for the guide windows: QtGui only, no widgets, so tests and fuzzing need no
# display.
add_library(k9_rtf STATIC
    ${CMAKE_CURRENT_LIST_DIR}/rtf_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rtf_reader.h
)
target_include_directories(k9_rtf PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(k9_rtf PUBLIC Qt6::Gui)
