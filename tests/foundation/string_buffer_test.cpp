// tests/foundation/string_buffer_test.cpp
