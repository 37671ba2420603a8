# First layout of a stage: seeds the user's own files, the settings file and the policy table
# file (from the factory copy), and leaves a mark. Later builds never touch them again, so a table
# the user has saved is never overwritten and a file the user removed stays removed.
#   -DCONF_SRC=<source conf folder> -DSTAGE=<stage folder>
set(mark "${STAGE}/.corvane-seeded")
if(EXISTS "${mark}")
  return()
endif()
file(MAKE_DIRECTORY "${STAGE}/conf")
if(NOT EXISTS "${STAGE}/conf/zarntool.ini")
  file(COPY_FILE "${CONF_SRC}/zarntool.ini" "${STAGE}/conf/zarntool.ini")
endif()
if(NOT EXISTS "${STAGE}/conf/policytable.conf")
  file(COPY_FILE "${CONF_SRC}/policytable.conf.default" "${STAGE}/conf/policytable.conf")
endif()
file(WRITE "${mark}" "The user's files of this stage were seeded; delete this file to seed them again.\n")
