// tests/document/lexer_test.cpp
