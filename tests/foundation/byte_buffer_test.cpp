// tests/foundation/byte_buffer_test.cpp
