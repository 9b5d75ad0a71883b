// foundation/string_buffer.cpp
