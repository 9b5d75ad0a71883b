// types/quantization.cpp
