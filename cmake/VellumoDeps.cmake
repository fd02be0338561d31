# Imported targets for the cross-built third-party libraries.
if(NOT VELLUMO_DEPS_DIR OR NOT EXISTS "${VELLUMO_DEPS_DIR}/.complete")
  message(FATAL_ERROR "VELLUMO_DEPS_DIR must name the prefix printed by scripts/build-deps.sh")
endif()

function(vellumo_import_static name lib)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION "${VELLUMO_DEPS_DIR}/lib/${lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${VELLUMO_DEPS_DIR}/include")
endfunction()

vellumo_import_static(vellumo_avutil     libavutil.a)
vellumo_import_static(vellumo_swresample libswresample.a)
vellumo_import_static(vellumo_avcodec    libavcodec.a)
vellumo_import_static(vellumo_avformat   libavformat.a)
vellumo_import_static(vellumo_mp3lame    libmp3lame.a)
set_property(TARGET vellumo_avutil PROPERTY INTERFACE_LINK_LIBRARIES bcrypt)
set_property(TARGET vellumo_swresample PROPERTY INTERFACE_LINK_LIBRARIES vellumo_avutil)
set_property(TARGET vellumo_avcodec PROPERTY INTERFACE_LINK_LIBRARIES vellumo_swresample vellumo_avutil)
set_property(TARGET vellumo_avformat PROPERTY INTERFACE_LINK_LIBRARIES vellumo_avcodec vellumo_avutil ws2_32 secur32)

add_library(vellumo::ffmpeg INTERFACE IMPORTED GLOBAL)
set_property(TARGET vellumo::ffmpeg PROPERTY INTERFACE_LINK_LIBRARIES
  vellumo_avformat vellumo_avcodec vellumo_swresample vellumo_avutil)
add_library(vellumo::lame ALIAS vellumo_mp3lame)
