# Rich-text reader for the guide windows: QtGui only, no widgets, so tests and fuzzing need no
# display.
add_library(k9_rtf STATIC
    ${CMAKE_CURRENT_LIST_DIR}/rtf_document.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rtf_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rtf_reader.h
    ${CMAKE_CURRENT_LIST_DIR}/rtf_words.cpp
    ${CMAKE_CURRENT_LIST_DIR}/rtf_words.h
)
k9_expose_folder(k9_rtf app)
target_link_libraries(k9_rtf PUBLIC Qt6::Gui)
