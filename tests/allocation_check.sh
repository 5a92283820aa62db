#!/bin/sh
# allocation_check.sh NM LIBRARY...: fails when the program's own code (the libraries given)
# calls an allocator; what the C runtime allocates for its streams is its own business.
nm=$1
shift
calls=$("$nm" -u "$@" | grep -E ' U (malloc|calloc|realloc|free|strdup|strndup|posix_memalign|aligned_alloc|_Znw|_Zna|_Zdl|_Zda)' | sort -u)
if [ -n "$calls" ]; then
  echo "FAIL: the program's code allocates:"
  echo "$calls"
  exit 1
fi
echo "no allocator is called from $*"
