target_link_libraries(${bench_target} PRIVATE varno_live varno_common_ui varno_av Qt6::Widgets)
