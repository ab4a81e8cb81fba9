# Painting cost of the editor: the curve display alone and the whole window.
quillo_add_bench (quillo_editor_bench ${CMAKE_CURRENT_LIST_DIR}/editor_paint_bench.cpp)
target_include_directories (quillo_editor_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/editor)
