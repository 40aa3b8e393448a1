# Gives the man page PAGE an ISO date (help2man writes "Month Year", which man page checkers
# cannot parse). The date honours SOURCE_DATE_EPOCH, as help2man's own does.
# Usage: cmake -DPAGE=ambrel.1 -P man_date.cmake
file(READ ${PAGE} text)
string(TIMESTAMP today "%Y-%m-%d" UTC)
string(REGEX REPLACE "(\n\\.TH [^ ]+ \"[^\"]*\") \"[^\"]*\"" "\\1 \"${today}\"" text "${text}")
file(WRITE ${PAGE} "${text}")
