// tests/commands/dispatch_test.cpp
