// tests/types/quantization_test.cpp
