# zorva's version data, kept in one place: the Windows version resource and
# the Linux desktop entry are both made from these variables.

set(ZORVA_FILE_VERSION "1.0.0.0")
set(ZORVA_PRODUCT_VERSION "1.0.0.0")
# The same numbers as the comma-separated list a resource script wants.
set(ZORVA_FILE_VERSION_LIST "1,0,0,0")
set(ZORVA_PRODUCT_VERSION_LIST "1,0,0,0")

set(ZORVA_FILE_DESCRIPTION "zorva")
set(ZORVA_PRODUCT_NAME "zorva")
set(ZORVA_COMPANY_NAME "zorva")
set(ZORVA_COMMENTS "zorva")
set(ZORVA_LEGAL_COPYRIGHT "© 2026 zorva · zorva.example")

# Chinese (PRC), texts in UTF-16: string table "080404B0".
set(ZORVA_VERSION_LANGUAGE "0x0804")
set(ZORVA_VERSION_CODEPAGE "1200")
set(ZORVA_VERSION_BLOCK "080404B0")

# The name a desktop shows for the program.
set(ZORVA_DISPLAY_NAME "ZORVA听歌软件")
