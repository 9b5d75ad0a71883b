// tests/foundation/bit_stream_test.cpp
