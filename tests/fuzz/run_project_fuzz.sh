#!/usr/bin/env bash
# Fuzzes the project loader: tests/fuzz/run_project_fuzz.sh [SECONDS] (see run_fuzz.sh).
exec "$(dirname "$0")/run_fuzz.sh" project "$@"
