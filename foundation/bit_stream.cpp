// foundation/bit_stream.cpp
