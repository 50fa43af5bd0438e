# Rich-text reader: text, formatting, encodings, hostile input, and the two shipped guides.
k9_add_tests(NAMES rtf_reader_test LIBS k9_rtf Qt6::Gui)
target_compile_definitions(rtf_reader_test PRIVATE K9_DOCS_DIR="${PROJECT_SOURCE_DIR}/docs")
