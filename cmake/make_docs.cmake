# Builds the user guide that ships in the plug-in folder: README.md becomes index.html and
# every docs/*.md a page beside it, links between them pointing at the pages.
#   cmake -DSOURCE=<source dir> -DOUT=<folder> [-DCMARK=<cmark>] -P make_docs.cmake
# Without cmark the pages hold the Markdown text as it is, preformatted.

file(MAKE_DIRECTORY "${OUT}")
file(GLOB pages "${SOURCE}/docs/*.md")
set(inputs "${SOURCE}/README.md" ${pages})

foreach(input IN LISTS inputs)
  get_filename_component(stem "${input}" NAME_WE)
  if(input STREQUAL "${SOURCE}/README.md")
    set(stem "index")
  endif()
  file(READ "${input}" markdown)
  string(REGEX MATCH "^# ([^\n]*)" heading "${markdown}")
  set(title "${CMAKE_MATCH_1}")
  if(CMARK)
    execute_process(COMMAND "${CMARK}" "${input}" OUTPUT_VARIABLE body RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cmark failed on ${input}")
    endif()
  else()
    string(REPLACE "&" "&amp;" body "${markdown}")
    string(REPLACE "<" "&lt;" body "${body}")
    string(REPLACE ">" "&gt;" body "${body}")
    set(body "<pre>${body}</pre>\n")
  endif()
  # The guide's pages lie side by side: "docs/x.md" from the README and "x.md" from a page
  # both become "x.html"; the README itself is the index.
  string(REGEX REPLACE "href=\"docs/" "href=\"" body "${body}")
  string(REGEX REPLACE "href=\"([A-Za-z0-9_.-]+)\\.md" "href=\"\\1.html" body "${body}")
  string(REPLACE "href=\"README.html" "href=\"index.html" body "${body}")
  string(REPLACE "href=\"../README.html" "href=\"index.html" body "${body}")
  file(WRITE "${OUT}/${stem}.html.new"
       "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>${title}</title>\n"
       "<style>body{max-width:52em;margin:2em auto;padding:0 1em;font-family:sans-serif;line-height:1.45}"
       "pre,code{background:#f4f4f4}pre{padding:.6em;overflow:auto}table{border-collapse:collapse}"
       "td,th{border:1px solid #ccc;padding:.2em .5em}</style>\n</head>\n<body>\n"
       "${body}</body>\n</html>\n")
  file(RENAME "${OUT}/${stem}.html.new" "${OUT}/${stem}.html")
endforeach()
