#!/bin/bash
# No function body in src/ runs over MAX lines (default 150): a long body is
# several ideas that want names of their own. Function definitions are found
# as the code is formatted: a head at column 0 whose body opens within five
# lines and closes with a "}" alone at column 0.
# Usage: check_function_length.sh SRC_DIR [MAX]
src=${1:?source folder}
max=${2:-150}
status=0
while IFS= read -r f; do
  awk -v max="$max" -v file="$f" '
    function report(n, at, head) {
      if (n > max) { printf "%s:%d: %d lines: %s\n", file, at, n, head; bad = 1 }
    }
    state == 0 && /^[A-Za-z_]/ && /\(/ && !/;[[:space:]]*$/ &&
        !/^(namespace|struct|class|enum|union|extern|using|template|static const|const |constexpr)/ {
      head = $0; at = NR; look = 0; state = 1
    }
    state == 1 {
      if (/\{[[:space:]]*$/) { state = 2; open = NR; next }
      if (++look > 5) state = 0
      next
    }
    state == 2 && /^\}/ { report(NR - open - 1, at, head); state = 0 }
    END { exit bad }
  ' "$f" || status=1
done < <(find "$src" -name '*.cpp' | sort)
[ $status -eq 0 ] && echo "function length: every body in $src is at most $max lines"
exit $status
