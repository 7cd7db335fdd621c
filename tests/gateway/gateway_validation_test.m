% Every kind of bad argument raises its Brelvane: error before anything is
% read or allocated, and leaves Octave working.
good = {[1;2], eye(2), [0;0], 1, zeros(2), [0;0], 1, 2, 3};
names = {"x0", "P", "c", "alpha", "Q", "d", "beta", "n", "iterations"};
with = @(i, value) [good(1:i-1), {value}, good(i+1:end)];

assert_brelvane_error ("Brelvane:nargin", 1, good(1:8));
assert_brelvane_error ("Brelvane:nargin", 1, {});
assert_brelvane_error ("Brelvane:nargout", 4, good);

% The five arrays: real, full, double, long enough.
for i = [1 2 3 5 6]
  value = good{i};
  assert_brelvane_error ("Brelvane:notDouble", 1, with (i, single (value)));
  assert_brelvane_error ("Brelvane:notDouble", 1, with (i, int32 (value)));
  assert_brelvane_error ("Brelvane:notDouble", 1, with (i, value != 0));
  assert_brelvane_error ("Brelvane:notDouble", 1, with (i, num2cell (value)));
  assert_brelvane_error ("Brelvane:notDouble", 1, with (i, "ab"));
  assert_brelvane_error ("Brelvane:complex", 1, with (i, value + 1i));
  assert_brelvane_error ("Brelvane:sparse", 1, with (i, sparse (value)));
  assert_brelvane_error ("Brelvane:tooShort", 1, with (i, value(1:end-1)));
  if (any (i == [1 2 5]))  % x0, P, Q; c and d may be [] (zeros)
    assert_brelvane_error ("Brelvane:tooShort", 1, with (i, []));
  end
  assert_brelvane_error ("Brelvane:notDouble", 1, with (i, ""));
end

% The four scalars: real, numeric, one element.
for i = [4 7 8 9]
  value = good{i};
  assert_brelvane_error ("Brelvane:notScalar", 1, with (i, [value, value]));
  if (any (i == [8 9]))  % n, iterations; alpha and beta may be [] (0)
    assert_brelvane_error ("Brelvane:notScalar", 1, with (i, []));
  end
  assert_brelvane_error ("Brelvane:complex", 1, with (i, complex (value, 1)));
  assert_brelvane_error ("Brelvane:notNumeric", 1, with (i, true));
  assert_brelvane_error ("Brelvane:notNumeric", 1, with (i, "2"));
  assert_brelvane_error ("Brelvane:notNumeric", 1, with (i, {value}));
  assert_brelvane_error ("Brelvane:notNumeric", 1, with (i, struct ("n", value)));
end

% n and iterations: finite, and in range after truncation.
for i = [8 9]
  for value = [NaN, Inf, -Inf]
    assert_brelvane_error ("Brelvane:notFinite", 1, with (i, value));
  end
  assert_brelvane_error ("Brelvane:outOfRange", 1, with (i, 1e300));
  assert_brelvane_error ("Brelvane:outOfRange", 1, with (i, 2^63));
end
assert_brelvane_error ("Brelvane:outOfRange", 1, with (8, -1));
assert_brelvane_error ("Brelvane:outOfRange", 1, with (8, 2^31));
assert_brelvane_error ("Brelvane:outOfRange", 1, with (8, int64 (-5)));
assert_brelvane_error ("Brelvane:outOfRange", 1, with (9, -1e300));
% 2^31 - 0.5 truncates to 2^31 - 1, which is in range; the arrays are then short.
assert_brelvane_error ("Brelvane:tooShort", 1, with (8, 2^31 - 0.5));

% P and Q with more than one row are n-by-n, or columns (above: rows and
% columns longer than n*n are read as before).
for i = [2 5]
  assert_brelvane_error ("Brelvane:sizeMismatch", 1, with (i, eye (3)));
  assert_brelvane_error ("Brelvane:sizeMismatch", 1, with (i, ones (2, 3)));
  assert_brelvane_error ("Brelvane:sizeMismatch", 1, with (i, ones (2, 2, 2)));
end
assert_brelvane_error ("Brelvane:sizeMismatch", 1, with (8, 1));  % P = eye(2) with n = 1
% The message names the argument, its size and n.
try
  Brelvane ([1;1], [2 0 9; 0 4 9; 9 9 9], [1;0], 1, eye (3), [0;0], 1, 2, 10);
  error ("a 3x3 P with n = 2 was accepted");
catch err
  assert (strcmp (err.identifier, "Brelvane:sizeMismatch"), err.message);
  assert (! isempty (strfind (err.message, "P must be an n-by-n matrix for n = 2")), err.message);
  assert (! isempty (strfind (err.message, "but is 3-by-3")), err.message);
end

% n*n without overflow: for n = 2^16 a 32-bit n*n would wrap to 0 and let a
% one-element P through.
big = zeros (2^16, 1);
assert_brelvane_error ("Brelvane:tooShort", 1, {big, 0, big, 1, 0, big, 1, 2^16, 1});
% n*n needs all of P: one element short of a 3x3 block.
assert_brelvane_error ("Brelvane:tooShort", 1, {ones(3,1), ones(8,1), ones(3,1), 1, eye(3), ones(3,1), 1, 3, 1});
disp ("gateway validation: all assertions passed");
