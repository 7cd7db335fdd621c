% assert_same_doubles (actual, expected, what)
% actual is a real double n-by-1 column equal to expected bit for bit (any NaN
% matches any NaN; +0 and -0 differ).
function assert_same_doubles (actual, expected, what)
  expected = expected(:);
  assert (isa (actual, "double") && isreal (actual) && ! issparse (actual),
          "%s: result is not a real full double array", what);
  assert (isequal (size (actual), [numel(expected), 1]),
          "%s: result is %dx%d, expected %dx1", what, rows (actual), columns (actual),
          numel (expected));
  if (isempty (expected))
    return;
  end
  same = typecast (actual, "uint64") == typecast (expected, "uint64");
  same |= isnan (actual) & isnan (expected);
  if (! all (same))
    disp ([actual, expected]);
    error ("%s: result differs from the expected values", what);
  end
end
