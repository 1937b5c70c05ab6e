# Engine core: workbook model, automation interface, typed input, .xls files,
# file dispatch with atomic saves, and the failing application for tests.
list(APPEND T5170_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SheetModel.h ${CMAKE_CURRENT_LIST_DIR}/SheetModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Automation.h ${CMAKE_CURRENT_LIST_DIR}/Engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EngineHooks.h
  ${CMAKE_CURRENT_LIST_DIR}/TypedInput.h ${CMAKE_CURRENT_LIST_DIR}/TypedInput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CompoundFile.h ${CMAKE_CURRENT_LIST_DIR}/CompoundFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsFile.h ${CMAKE_CURRENT_LIST_DIR}/XlsReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxIo.h
  ${CMAKE_CURRENT_LIST_DIR}/WorkbookFile.h ${CMAKE_CURRENT_LIST_DIR}/WorkbookFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FailingAutomation.h ${CMAKE_CURRENT_LIST_DIR}/FailingAutomation.cpp)
