# A camera written in Python from the protocol document alone (pycam.py,
# Debian's python3 with python3-paho-mqtt) against the client library.
target_link_libraries(${test_target} PRIVATE varno_p2p varno_device varno_alarm varno_live varno_testmedia)
find_program(VARNO_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
set_property(TEST ${test_name} APPEND PROPERTY ENVIRONMENT "VARNO_PYTHON3=${VARNO_SYSTEM_PYTHON3}")
