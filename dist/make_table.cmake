# Creates one table of the program folder from its schema and optional seed
# rows: cmake -DVLTABLE=... -DDIR=... -DTABLE=name -DSCHEMA=... [-DROWS=...] -P
# The files are named in lower case (name.dat, name.idx, name.blb), as the
# program folder lists them.
file(MAKE_DIRECTORY ${DIR} ${DIR}/data)
foreach(ext dat idx blb DAT IDX BLB)
  file(REMOVE ${DIR}/${TABLE}.${ext})
endforeach()
execute_process(COMMAND ${VLTABLE} create ${DIR}/${TABLE}.dat --schema ${SCHEMA}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vltable create ${TABLE} failed (${rc})")
endif()
if(ROWS)
  execute_process(COMMAND ${VLTABLE} insert ${DIR}/${TABLE}.dat --exclusive
                  INPUT_FILE ${ROWS} OUTPUT_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "vltable insert into ${TABLE} failed (${rc})")
  endif()
endif()
foreach(ext IDX BLB)
  string(TOLOWER ${ext} lower)
  if(EXISTS ${DIR}/${TABLE}.${ext})
    file(RENAME ${DIR}/${TABLE}.${ext} ${DIR}/${TABLE}.${lower})
  endif()
endforeach()
execute_process(COMMAND ${VLTABLE} verify ${DIR}/${TABLE}.dat RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vltable verify ${TABLE} found problems (${rc})")
endif()
