quillo_add_bench (quillo_engine_bench ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp)
