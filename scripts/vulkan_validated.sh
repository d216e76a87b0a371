#!/usr/bin/env bash
# Runs a command with the Khronos validation layer loaded by the Vulkan
# loader itself (VK_INSTANCE_LAYERS) and its errors written to a log of its
# own; fails when the log is not empty. For programs that cannot load the
# layer themselves: the Windows build under wine, whose Vulkan hands the
# instance to the host's loader. Without the layer installed the command
# runs as it is.
#   vulkan_validated.sh COMMAND [ARGS...]
set -u
manifest=/usr/share/vulkan/explicit_layer.d/VkLayer_khronos_validation.json
if [ ! -f "$manifest" ]; then
  exec "$@"
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/vk_layer_settings.txt" <<EOF
khronos_validation.debug_action = VK_DBG_LAYER_ACTION_LOG_MSG
khronos_validation.report_flags = error
khronos_validation.log_filename = $tmp/validation.log
EOF
export VK_INSTANCE_LAYERS=VK_LAYER_KHRONOS_validation
export VK_LAYER_SETTINGS_PATH="$tmp/vk_layer_settings.txt"
"$@"
rc=$?
if [ "$rc" -eq 0 ] && [ -s "$tmp/validation.log" ]; then
  echo "vulkan_validated: the validation layer reported errors:"
  cat "$tmp/validation.log"
  rc=1
fi
exit $rc
