# The measurement report: its layout, the view of the main window it works
# on, its dialogs and the report operations.
list(APPEND T5170_REPORT_SOURCES
  ReportLayout.h ReportLayout.cpp
  ReportView.h ReportView.cpp
  ReportDialogs.h ReportDialogs.cpp
  TRepWorkbook.h TRepWorkbook.cpp
)
