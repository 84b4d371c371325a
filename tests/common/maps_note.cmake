# Says that the tests that need the published fuse maps skip, where DIR (the
# folder the tests look in) holds none; BESIDE is ../shared/testdata beside
# the project.
if(NOT EXISTS "${DIR}/jedec")
    message(STATUS "No published fuse maps in ${DIR}/jedec: the tests that need them are skipped. "
                   "Put the folder holding jedec/*.jed at ${BESIDE}, or name it with -DGATESWEEP_TESTDATA_DIR=FOLDER.")
endif()
