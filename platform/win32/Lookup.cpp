// Windows implementation: being written.
