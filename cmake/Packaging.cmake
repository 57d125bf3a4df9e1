# The Debian packages, made by CPack from the install rules (scripts/package):
#   varno-pc      the install component "client": every install() rule
#                 without COMPONENT (cmake/Varno.cmake), so a program added
#                 later with a plain install() lands in it by itself;
#   varno-camsim  the component "camsim": the camera simulator, the demo
#                 seeder and varno-demo.
# Dependencies on libraries come from dpkg-shlibdeps; what is loaded at run
# time (the Qt platform plug-ins, GStreamer elements, the broker) is named
# here. Each package gets the copyright file and changelog Debian expects.
include(GNUInstallDirs)

set(VARNO_PACKAGE_MAINTAINER "The Varno developers <packages@varno.net>"
    CACHE STRING "Maintainer field of the Debian packages")

execute_process(COMMAND date -u -R -d "${VARNO_RELEASE_DATE}"
                OUTPUT_VARIABLE VARNO_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE date_rc)
if(NOT date_rc EQUAL 0)
    message(FATAL_ERROR "VARNO_RELEASE_DATE ${VARNO_RELEASE_DATE} is not a date")
endif()

foreach(component client camsim)
    if(component STREQUAL "client")
        set(VARNO_DEBIAN_PACKAGE varno-pc)
    else()
        set(VARNO_DEBIAN_PACKAGE varno-${component})
    endif()
    set(doc ${CMAKE_BINARY_DIR}/packaging/${VARNO_DEBIAN_PACKAGE})
    configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${doc}/changelog @ONLY)
    varno_gzip(${VARNO_DEBIAN_PACKAGE}-changelog ${doc}/changelog)
    # Debian's files only: a plain `cmake --install` leaves them out.
    install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright ${doc}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VARNO_DEBIAN_PACKAGE}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varno)
set(CPACK_PACKAGE_VENDOR "The Varno developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARNO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL client camsim)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARNO_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME varno-pc)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION
    "client for networked security cameras
Varno PC Client shows the live video of networked security cameras in a
grid of 4, 8, 16 or 25 windows, records it to the local disks with
overwriting of the oldest recordings, searches and plays back recordings
kept on those disks or on the cameras, downloads camera recordings and
exports them to MP4, reads the cameras' alarm logs and keeps an operation
log. Cameras are reached by camera ID through an MQTT relay, or found on
the local network by ONVIF. English and German user interface.")
# The X11 platform plug-in is loaded at run time, not linked.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-qpa-plugins")

set(CPACK_DEBIAN_CAMSIM_PACKAGE_NAME varno-camsim)
set(CPACK_DEBIAN_CAMSIM_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_CAMSIM_DESCRIPTION
    "simulated cameras and the demo of the Varno PC Client
The camera simulator serves cameras reached by camera ID (through a private
MQTT broker) and ONVIF cameras with RTSP streams, all on 127.0.0.1. The
command varno-demo starts the broker, the simulator with six cameras and
the client, for trying the client without cameras; nothing is sent to the
network.")
# varno-demo starts the broker; the simulator's RTSP streams are GStreamer
# pipelines (videotestsrc, x264enc, rtph264pay, alawenc) made at run time.
set(CPACK_DEBIAN_CAMSIM_PACKAGE_DEPENDS
    "varno-pc (= ${PROJECT_VERSION}), mosquitto, mosquitto-clients, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-ugly")
set(CPACK_DEBIAN_CAMSIM_PACKAGE_SUGGESTS "xvfb")

include(CPack)
