// foundation/byte_buffer.cpp
