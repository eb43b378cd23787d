# Hostile-input end-to-end tests: broken JSON, odd file systems and output
# faults, run against the built binary.
include_guard(GLOBAL)
