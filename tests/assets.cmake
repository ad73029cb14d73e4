facup_unit_test(asset_header_tests SOURCES unit/asset_header_test.cpp LIBS asset_generator)

# Round trip: headers generated from a real binary (the generator itself) compile into arrays
# equal to that binary.
set(_rt_dir ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${_rt_dir})
facup_generate_header(${_rt_dir}/roundtrip_firmware.h firmware ${FACUP_ASSET_HEADER} QUORVANE_CAM418S 2.0.16)
facup_generate_header(${_rt_dir}/roundtrip_utility.h utility ${FACUP_ASSET_HEADER} 0.1.2)
facup_unit_test(asset_roundtrip_tests SOURCES unit/asset_roundtrip_test.cpp
  ${_rt_dir}/roundtrip_firmware.h ${_rt_dir}/roundtrip_utility.h)
target_include_directories(asset_roundtrip_tests PRIVATE ${_rt_dir})
target_compile_definitions(asset_roundtrip_tests PRIVATE ROUNDTRIP_INPUT="${FACUP_ASSET_HEADER}")
