# .xlsx package reading, writing and editing, the viewer window, printing,
# and the report scan shared by the report and the t5170-report tool.
list(APPEND T5170_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/XlsxOrigin.h
  ${CMAKE_CURRENT_LIST_DIR}/XlsxCommon.h ${CMAKE_CURRENT_LIST_DIR}/XlsxCommon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxXml.h ${CMAKE_CURRENT_LIST_DIR}/XlsxXml.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxZip.h ${CMAKE_CURRENT_LIST_DIR}/XlsxZip.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxReader.h ${CMAKE_CURRENT_LIST_DIR}/XlsxReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxStyles.h ${CMAKE_CURRENT_LIST_DIR}/XlsxStyles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxEdit.h ${CMAKE_CURRENT_LIST_DIR}/XlsxEdit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XlsxWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SheetViewer.h ${CMAKE_CURRENT_LIST_DIR}/SheetViewer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SheetPrint.h ${CMAKE_CURRENT_LIST_DIR}/SheetPrint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReportScan.h ${CMAKE_CURRENT_LIST_DIR}/ReportScan.cpp
)
