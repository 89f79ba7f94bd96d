# Run by CPack on the staged files before it packs them: each file's time set
# to SOURCE_DATE_EPOCH (the last commit's, from scripts/package and
# scripts/windows-tests), so that a package does not depend on when or where
# it was built.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
  execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${staged} COMMAND_ERROR_IS_FATAL ANY)
endif()
