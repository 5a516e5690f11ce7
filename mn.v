(MKVInfo) Error: Couldn't open source file mixn.mkv (open file error).
