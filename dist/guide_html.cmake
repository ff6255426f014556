# The operator guide as a page of its own: the README's HTML (BODY, made by
# markdown_py) in a document with its character set and a little style, so
# that any browser shows the tables and code as the README does. OUT: the page.
file(READ ${BODY} body)
file(WRITE ${OUT} "<!DOCTYPE html>
<html lang=\"en\"><head><meta charset=\"utf-8\">
<title>vst_gse operator guide</title>
<style>
body { font-family: sans-serif; max-width: 60em; margin: 1em auto; padding: 0 1em; line-height: 1.4; }
table { border-collapse: collapse; } th, td { border: 1px solid #999; padding: 0.2em 0.5em; text-align: left; }
pre { background: #f3f3f3; padding: 0.5em; overflow-x: auto; } img { max-width: 100%; }
</style></head><body>
${body}
</body></html>
")
