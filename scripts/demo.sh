#!/usr/bin/env bash
# Placeholder until the demo lands.
echo "Program Update Tool: nothing to demonstrate yet."
