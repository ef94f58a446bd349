# Copies the demo data folder SRC to DST unless DST already exists.
if(NOT EXISTS "${DST}")
    file(COPY "${SRC}/" DESTINATION "${DST}")
    message(STATUS "Demo data placed in ${DST}")
endif()
