#!/usr/bin/env bash
# Finds float arithmetic that rounds where no named value is stored. A
# formula is evaluated in double and rounded to float only where a named
# value is stored; in C++ `float + float` is a float operation, so
# `(a + b) * 0.05` rounds the sum to float before the double product. The
# audit parses the kit and the plug-ins with clang (through clang-query) and
# reports, in every build variant of the sources:
#   - a float + - * / whose result is widened to double (implicitly or by
#     a cast), such as (a + b) * 0.05 or sqrt(a * b);
#   - a float + - * / whose result is an operand of another operator, such
#     as a * b + c, a - b < c or v += a * b;
#   - a float overload of a rounding mathematics function (std::sqrt(float),
#     sqrtf, sin, cos, acos, ...), which take and return doubles here; floor,
#     fabs and fmod are exact in float too, and are not reported.
# A single float operation whose result is stored at once (a named float, an
# array element, a float argument or return value) rounds exactly as the
# double formula rounded to float, and is not reported. Write the intended
# formula with an explicit widening, ((double)a + b) * 0.05, or store the
# intermediate as a named float where the rounding is meant.
#
# It first checks itself on tools/float_audit_cases.cpp, whose lines marked
# "reported" must be exactly the ones found there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# clang-query comes with Debian's clang-tools, which tools/setup.sh installs.
command -v clang-query >/dev/null || tools/setup.sh

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
queries=$work/queries
cat >"$queries" <<'EOF'
set output diag
let floatop binaryOperator(hasAnyOperatorName("+", "-", "*", "/"), hasType(hasCanonicalType(asString("float")))).bind("unstored")
match castExpr(hasType(hasCanonicalType(realFloatingPointType())), unless(hasType(hasCanonicalType(asString("float")))), hasSourceExpression(ignoringParens(floatop)), unless(isExpansionInSystemHeader()))
match binaryOperator(unless(hasAnyOperatorName("=", ",")), hasEitherOperand(ignoringParens(floatop)), unless(isExpansionInSystemHeader()))
match callExpr(callee(functionDecl(hasAnyName("sqrt", "sqrtf", "sin", "sinf", "cos", "cosf", "tan", "tanf", "asin", "asinf", "acos", "acosf", "atan", "atanf", "atan2", "atan2f", "pow", "powf", "exp", "expf", "log", "logf"), returns(hasCanonicalType(asString("float"))))), unless(isExpansionInSystemHeader())).bind("unstored")
EOF

# found ARGS...: file:line:col of every reported expression, once each, in
# $work/found; a source that clang cannot parse fails the audit.
found() {
    clang-query -f "$queries" "$@" >"$work/log" 2>&1
    if grep -q ': error: ' "$work/log"; then
        grep -A3 ': error: ' "$work/log" | head -n 20 >&2
        echo "float audit: clang could not parse the sources" >&2
        exit 1
    fi
    sed -n 's/^\(.*:[0-9]*:[0-9]*\): note: "unstored" binds here$/\1/p' "$work/log" |
        sort -u >>"$work/found"
}

# The self-check: exactly the marked lines of the cases file.
cases=tools/float_audit_cases.cpp
want=$(grep -n '// reported' "$cases" | cut -d: -f1 | sort -n)
found "$cases" -- -std=c++17
got=$({ grep "^$root/$cases:" "$work/found" || true; } | cut -d: -f2 | sort -n)
if [ "$want" != "$got" ]; then
    echo "float audit: the queries no longer find exactly the marked lines of $cases" >&2
    echo "marked: $(echo $want)" >&2
    echo "found:  $(echo $got)" >&2
    exit 1
fi

# A compilation database of the sources as clang sees them (configure only).
build=${FLOAT_AUDIT_BUILD_DIR:-build-audit}
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBUILD_TESTING=OFF >/dev/null
sources=(kit/*.cpp clouds/*.cpp wood/*.cpp marble/*.cpp marble_terrain/*.cpp bricks/*.cpp)

# Every variant of the sources: as built, the point-by-point plug-ins, and the
# portable noise path that processors without SSE2 take.
rm -f "$work/found"
found -p "$build" "${sources[@]}"
found -p "$build" --extra-arg=-DTEXTURES_STRAIGHTFORWARD "${sources[@]}"
found -p "$build" --extra-arg=-U__SSE2__ kit/*.cpp
hits=$({ grep "^$root/" "$work/found" || true; } | sed "s|^$root/||" | sort -u)
if [ -n "$hits" ]; then
    echo "float audit: float results used unstored (widen explicitly, or store a named float):" >&2
    while read -r hit; do
        file=${hit%%:*}
        line=$(echo "$hit" | cut -d: -f2)
        echo "  $hit: $(sed -n "${line}p" "$file" | sed 's/^ *//')" >&2
    done <<<"$hits"
    exit 1
fi
echo "float audit: ${#sources[@]} sources, no float result used unstored"
