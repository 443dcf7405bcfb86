#!/usr/bin/env bash
# Inputs that once broke a target, written out for the fuzz runs to replay:
#   regressions.sh <out dir>  ->  <out dir>/<target>/<case>
set -euo pipefail
out="$1"
mkdir -p "$out"/{config,setup_image,entry_name,zip}

# config: a description whose IME name starts with zero characters built a
# config.dsc that the setup reads with an empty IME name.
printf 'display_name = A\nime_name =\0\0\0\0 B\ntext_service_guid = {00000000-0000-0000-c000-000000000001}\n' \
  > "$out/config/zero_in_ime_name"
printf 'display_name = A\nime_name =\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' \
  > "$out/config/empty_ime_name"
# config: a description whose IME name is no plain file name built a
# config.dsc that the setup refuses.
printf 'display_name = A\nime_name = ..\\B\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' \
  > "$out/config/climbing_ime_name"
