; Mapping one quadrangle onto another: corner order, a general bilinear map
; with nearest and bilinear sampling, and the smoothing kernels on flat areas.

(define (e2e-pattern-source type)
  (let* ((nch (channels-of-type type))
         (im (make-image 16 12 type 16 12 0 0 #f)))
    (fill-drawable (cadr im) nch (pattern-value nch) #f)
    (append im (list (source 0 0 16 12 nch (pattern-value nch))))))

(define (e2e-cases)
  (group "180 degree turn by corner order"
    (lambda ()
      (let* ((im (e2e-pattern-source RGBA-IMAGE))
             (image (car im)) (src (cadr im)) (s (caddr im))
             (from (rect 3 2 13 10))
             ; Corner 0 goes to corner 2 and so on: a half turn about (8, 6).
             (to (list (list 13 10) (list 3 10) (list 3 2) (list 13 2)))
             (layer (tessaform image src from to 0))
             (ox (car (gimp-drawable-offsets layer)))
             (oy (cadr (gimp-drawable-offsets layer))))
        ; Stated directly: image pixel (x, y) holds source pixel (15 - x, 11 - y).
        (check-pixels "turned: inner area is the turned source" layer
                      (lambda (x y)
                        (let ((ix (+ x ox)) (iy (+ y oy)))
                          (if (and (>= ix 3) (< ix 13) (>= iy 2) (< iy 10))
                              (map (lambda (c) ((pattern-value 4) (- 15 ix) (- 11 iy) c))
                                   (iota 4))
                              'any))))
        (check-new-layer "turned" image src layer from to 'nearest s #f))))

  (group "general quadrangles"
    (lambda ()
      (let* ((im (e2e-pattern-source RGB-IMAGE))
             (image (car im)) (src (cadr im)) (s (caddr im))
             ; Enlarging, skewed and tapering: no two edges parallel.
             (from '((2.25 1.5) (9.75 2.25) (10.5 8.25) (1.5 7.5)))
             (to '((1.75 2.5) (20.5 1.25) (22.25 17.75) (3.5 16.25))))
        (check-new-layer "nearest" image src (tessaform image src from to 0)
                         from to 'nearest s #f)
        (check-new-layer "bilinear" image src (tessaform image src from to 1)
                         from to 'bilinear s #f)
        ; Shrinking and reflected: corners in the other orientation.
        (let ((from2 '((1.5 1.25) (14.25 2.5) (13.75 10.5) (2.25 9.75)))
              (to2 '((3.25 12.5) (11.75 11.25) (12.5 2.75) (2.5 4.25))))
          (check-new-layer "nearest, reflected" image src (tessaform image src from2 to2 0)
                           from2 to2 'nearest s #f)
          (check-new-layer "bilinear, reflected" image src (tessaform image src from2 to2 1)
                           from2 to2 'bilinear s #f))
        (check-source-intact "source unchanged" src 3 (pattern-value 3) #f))))

  (group "cubic and Lanczos keep flat areas flat"
    (lambda ()
      (for-each
       (lambda (type color)
         (let* ((nch (channels-of-type type))
                (im (make-image 16 12 type 16 12 0 0 #f))
                (image (car im)) (src (cadr im))
                (s (source 0 0 16 12 nch (flat-value color)))
                ; Reaching past the drawable on every side, so the kernels'
                ; windows meet the repeated edge as well.
                (from '((-2.5 -1.5) (17.25 0.5) (15.5 13.75) (0.25 12.5)))
                (to '((4.5 1.25) (22.75 6.5) (18.5 21.25) (1.25 15.75))))
           (fill-drawable src nch (flat-value color) #f)
           (for-each
            (lambda (interpolation name)
              (check-new-layer (string-append name " " (number->string nch) " channels")
                               image src (tessaform image src from to interpolation)
                               from to 'flat s #f))
            '(2 3) '("cubic" "Lanczos"))))
       (list RGBA-IMAGE GRAY-IMAGE)
       '((255 128 3 255) (77))))))
